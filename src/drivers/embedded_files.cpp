#include "drivers/embedded_files.h"

#include <cstdlib>

#include "drivers/embedded_assets.h"
#include "platform/paths.h"

namespace tarvo {

namespace {

std::string_view embedded(std::string_view name) {
    auto bytes = assets::find(name);
    if (!bytes) std::abort();  // every build embeds all six files
    return *bytes;
}

bool is_program(std::string_view name) { return name.ends_with(".exe"); }

}  // namespace

std::filesystem::path wireguard_dll_path() { return program_data_folder() / "wireguard.dll"; }

Status<std::string> extract_embedded_files(const std::vector<OwnFolder>& folders,
                                           const std::vector<EmbeddedFile>& files) {
    for (const OwnFolder& folder : folders) {
        if (auto secured = secure_own_folder(folder); !secured) return secured;
    }
    Status<std::string> result = Unit{};
    for (const EmbeddedFile& file : files) {
        const auto target = file.folder / platform::path_from_text(file.name);
        const auto written = platform::write_file_if_differs(target, file.bytes, is_program(file.name));
        if (!written && result)
            result = unexpected("Błąd tworzenia " + platform::path_text(target) + ": " +
                                platform::describe(written.error()));
    }
    return result;
}

Status<std::string> extract_embedded_files() {
    const OwnFolder data = program_data_layout();
    const OwnFolder& driver = data.folders.front();
    std::vector<EmbeddedFile> files;
    for (const std::string_view name : kProgramDataFiles) files.push_back({data.path, name, embedded(name)});
    for (const std::string_view name : kDriverFiles) files.push_back({driver.path, name, embedded(name)});
    return extract_embedded_files({data, driver}, files);
}

Expected<platform::HeldFile, platform::OsError> hold_embedded_file(const std::filesystem::path& file) {
    return platform::hold_file_with_content(file, embedded(platform::path_text(file.filename())));
}

Expected<platform::LibraryHandle, platform::OsError> load_embedded_library(const std::filesystem::path& file) {
    auto held = hold_embedded_file(file);
    if (!held) return unexpected(std::move(held).error());
    return platform::load_held_library(*held, file);
}

}  // namespace tarvo
