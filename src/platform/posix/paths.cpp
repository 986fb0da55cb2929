// The host root: every "X:\..." path of the client lives below one directory,
// $TARVO_HOST_ROOT, or /var/lib/tarvo-host when that variable is not set.
// "C:\ProgramData\TARVO" becomes <root>/C/ProgramData/TARVO; the drive letter
// is upper-cased and both kinds of slash separate components.
#include "platform/paths.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <vector>

#include "platform/posix/host_root.h"
#include "text/utf8.h"

namespace tarvo::platform {

std::filesystem::path host_path(std::string_view windows_path) {
    const bool has_drive = windows_path.size() >= 2 &&
                           std::isalpha(static_cast<unsigned char>(windows_path[0])) &&
                           windows_path[1] == ':';
    // Only fixed absolute paths of the client reach here; anything else is a
    // programming error.
    if (!has_drive) std::abort();

    std::filesystem::path out = posix::host_root();
    out /= std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(windows_path[0]))));
    std::string component;
    for (char c : windows_path.substr(2)) {
        if (c == '\\' || c == '/') {
            if (!component.empty()) out /= component;
            component.clear();
        } else {
            component.push_back(c);
        }
    }
    if (!component.empty()) out /= component;
    return out;
}

std::optional<std::string> environment_variable(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    std::string text(value);
    if (!text::is_valid_utf8(text)) return std::nullopt;
    return text;
}

std::optional<std::filesystem::path> own_executable_path() {
    std::vector<char> buffer(4096);
    while (true) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return std::nullopt;
        if (static_cast<std::size_t>(n) < buffer.size())
            return std::filesystem::path(std::string(buffer.data(), static_cast<std::size_t>(n)));
        buffer.resize(buffer.size() * 2);
    }
}

std::string path_text(const std::filesystem::path& path) { return text::decode_utf8_lossy(path.native()); }

std::filesystem::path path_from_text(std::string_view utf8) {
    return std::filesystem::path(std::string(utf8));
}

}  // namespace tarvo::platform
