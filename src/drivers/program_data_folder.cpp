#include "drivers/program_data_folder.h"

#include <algorithm>

#include "platform/admin_folder.h"
#include "platform/paths.h"

namespace tarvo {

namespace {

std::string creation_error(const std::filesystem::path& folder, const platform::OsError& error) {
    return "Błąd tworzenia " + platform::path_text(folder) + ": " + platform::describe(error);
}

template <class Names>
std::vector<std::string> texts(const Names& names) {
    return {std::begin(names), std::end(names)};
}

bool is_named(const std::filesystem::path& name, std::string_view own) {
    return name.native() == platform::path_from_text(own).native();
}

bool is_named(const std::filesystem::path& name, const OwnFolder& own) {
    return name.native() == own.path.filename().native();
}

// Removes what is not `folder`'s own and secures what is; keeps going after a
// failure, so that as much as possible is clean, and returns the first.
Status<platform::OsError> clean(const OwnFolder& folder) {
    auto entries = platform::list_folder_entries(folder.path);
    if (!entries) return unexpected(std::move(entries).error());
    Status<platform::OsError> result = Unit{};
    const auto note = [&](Status<platform::OsError> step) {
        if (!step && result) result = std::move(step);
    };
    for (const platform::FolderEntry& entry : *entries) {
        const auto path = folder.path / entry.name;
        const bool own_file = entry.kind == platform::FolderEntry::Kind::file &&
                              std::ranges::any_of(folder.files, [&](const auto& f) { return is_named(entry.name, f); });
        const auto own_folder = std::ranges::find_if(folder.folders, [&](const OwnFolder& f) {
            return entry.kind == platform::FolderEntry::Kind::folder && is_named(entry.name, f);
        });
        if (own_file) {
            note(platform::make_admin_only_entry(path));
        } else if (own_folder != folder.folders.end()) {
            // Its rules may be fine, but whoever could write in its parent
            // could have put it there.
            if (auto secured = platform::make_admin_only_folder(path); !secured)
                note(unexpected(std::move(secured).error()));
            else
                note(clean(*own_folder));
        } else {
            note(platform::remove_entry(path));
        }
    }
    return result;
}

}  // namespace

std::filesystem::path program_data_folder() { return platform::host_path("C:\\ProgramData\\TARVO"); }

std::filesystem::path driver_folder() { return platform::host_path("C:\\ProgramData\\TARVO\\driver"); }

OwnFolder program_data_layout() {
    OwnFolder data{program_data_folder(), texts(kProgramDataFiles), {}};
    data.files.emplace_back(kProgramCopyName);
    data.files.emplace_back(kOldProgramCopyName);
    data.folders.push_back({driver_folder(), texts(kDriverFiles), {}});
    data.folders.push_back({data.path / std::string(kSettingsFolderName), {std::string(kSettingsFileName)}, {}});
    return data;
}

Status<std::string> secure_own_folder(const OwnFolder& folder) {
    const auto secured = platform::make_admin_only_folder(folder.path);
    if (!secured) return unexpected(creation_error(folder.path, secured.error()));
    if (*secured != platform::FolderSecurity::resecured) return Unit{};
    if (auto cleaned = clean(folder); !cleaned) return unexpected(creation_error(folder.path, cleaned.error()));
    return Unit{};
}

Status<std::string> secure_program_data_folder() {
    const OwnFolder data = program_data_layout();
    if (auto secured = secure_own_folder(data); !secured) return secured;
    return secure_own_folder(data.folders.front());
}

}  // namespace tarvo
