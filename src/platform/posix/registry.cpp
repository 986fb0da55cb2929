#include "platform/registry.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/posix/registry_files.h"
#include "text/ascii_case.h"
#include "text/utf8.h"

namespace tarvo::platform {

namespace {

constexpr const char* kValuesFile = "values";

std::vector<std::string> split_key_path(std::string_view key_path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : key_path) {
        if (c == '\\') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part.push_back(c);
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

std::vector<std::string> sorted_subkeys(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code type_ec;
        if (it->is_directory(type_ec)) names.push_back(it->path().filename().native());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The existing child folder whose name matches `name` ignoring ASCII case;
// an exact match wins.
std::optional<std::filesystem::path> find_child(const std::filesystem::path& folder, std::string_view name) {
    std::error_code ec;
    const auto exact = folder / std::string(name);
    if (std::filesystem::is_directory(exact, ec)) return exact;
    for (const auto& sub : sorted_subkeys(folder))
        if (text::equal_ignoring_ascii_case(sub, name)) return folder / sub;
    return std::nullopt;
}

std::string escape_field(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default: out.push_back(c);
        }
    }
    return out;
}

std::string unescape_field(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out.push_back(text[i]);
            continue;
        }
        switch (text[++i]) {
            case 't': out.push_back('\t'); break;
            case 'n': out.push_back('\n'); break;
            case 'r': out.push_back('\r'); break;
            default: out.push_back(text[i]);
        }
    }
    return out;
}

struct ValueLine {
    std::string type;
    std::string name;
    std::string data;
};

std::vector<ValueLine> read_values(const std::filesystem::path& folder) {
    std::vector<ValueLine> values;
    std::ifstream in(folder / kValuesFile, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t first = line.find('\t');
        if (first == std::string::npos) continue;
        const std::size_t second = line.find('\t', first + 1);
        if (second == std::string::npos) continue;
        values.push_back({line.substr(0, first),
                          unescape_field(std::string_view(line).substr(first + 1, second - first - 1)),
                          unescape_field(std::string_view(line).substr(second + 1))});
    }
    return values;
}

std::filesystem::path registry_root() { return host_path("C:\\") / "Registry" / "HKLM"; }

std::optional<std::filesystem::path> find_key_folder(std::filesystem::path folder,
                                                     std::string_view key_path) {
    for (const auto& part : split_key_path(key_path)) {
        auto child = find_child(folder, part);
        if (!child) return std::nullopt;
        folder = *child;
    }
    return folder;
}

}  // namespace

struct RegistryKey::Impl {
    std::filesystem::path folder;
};

RegistryKey::RegistryKey(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
RegistryKey::RegistryKey(RegistryKey&&) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&&) noexcept = default;
RegistryKey::~RegistryKey() = default;

RegistryKey::Subkey RegistryKey::subkey_at(std::uint32_t index) const {
    const auto names = sorted_subkeys(impl_->folder);
    if (index >= names.size()) return {};
    // Windows key names are Unicode; a folder name that is not text has no such name.
    if (!text::is_valid_utf8(names[index])) return {Subkey::State::unreadable, {}};
    return {Subkey::State::found, names[index]};
}

std::optional<RegistryKey> RegistryKey::open_subkey(std::string_view name) const {
    auto folder = find_key_folder(impl_->folder, name);
    if (!folder) return std::nullopt;
    return RegistryKey(std::make_unique<Impl>(Impl{*folder}));
}

std::optional<std::string> RegistryKey::read_string(std::string_view value_name) const {
    for (const auto& value : read_values(impl_->folder)) {
        if (!text::equal_ignoring_ascii_case(value.name, value_name)) continue;
        if (value.type != "REG_SZ") return std::nullopt;
        return value.data;
    }
    return std::nullopt;
}

std::optional<RegistryKey> open_local_machine_key(std::string_view path) {
    auto folder = find_key_folder(registry_root(), path);
    if (!folder) return std::nullopt;
    return RegistryKey(std::make_unique<RegistryKey::Impl>(RegistryKey::Impl{*folder}));
}

std::filesystem::path registry_key_folder(std::string_view key_path) {
    auto folder = registry_root();
    for (const auto& part : split_key_path(key_path)) {
        auto existing = find_child(folder, part);
        folder = existing ? *existing : folder / part;
    }
    return folder;
}

Status<OsError> write_registry_value(std::string_view key_path, std::string_view value_name,
                                     std::string_view data, std::string_view type) {
    const auto folder = registry_key_folder(key_path);
    if (auto made = platform::create_directories(folder); !made) return made;
    auto values = read_values(folder);
    std::erase_if(values,
                  [&](const ValueLine& v) { return text::equal_ignoring_ascii_case(v.name, value_name); });
    values.push_back({std::string(type), std::string(value_name), std::string(data)});

    std::ostringstream text;
    for (const auto& v : values)
        text << v.type << '\t' << escape_field(v.name) << '\t' << escape_field(v.data) << '\n';
    const auto temporary = folder / "values.tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text.str();
        out.close();
        if (!out) return unexpected(os_error(EIO));
    }
    return replace_file(temporary, folder / kValuesFile);
}

}  // namespace tarvo::platform
