// Where the fixed Windows locations of the client live on this machine.
//
// On Windows a path such as "C:\ProgramData\TARVO" is itself. On POSIX every
// "C:\..." path is mapped below one host root directory (TARVO_HOST_ROOT), so
// the client's file behaviour is real and testable without a Windows disk.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tarvo::platform {

// `windows_path` is an absolute path in Windows form with a drive letter,
// e.g. "C:\\ProgramData\\TARVO\\driver".
std::filesystem::path host_path(std::string_view windows_path);

// The value of an environment variable as UTF-8, or nothing when it is not
// set or its value is not valid Unicode text.
std::optional<std::string> environment_variable(const char* name);

// The full path of the running program file, when the system can tell it.
std::optional<std::filesystem::path> own_executable_path();

// A path as UTF-8 text; characters that cannot be represented become U+FFFD.
std::string path_text(const std::filesystem::path& path);

// A path from UTF-8 text.
std::filesystem::path path_from_text(std::string_view utf8);

}  // namespace tarvo::platform
