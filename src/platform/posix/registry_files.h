// The file-backed registry of the linux build, below the host root:
//
//   <host_path("C:\\")>/Registry/HKLM/<key path, one folder per component>/
//
// A key is a folder; its subkeys are its subfolders, enumerated in ascending
// byte order of their names. Its values live in the file "values" inside the
// folder, one per line:  <type> TAB <name> TAB <data>  where type is REG_SZ
// (or any other word for values of other types) and backslash, tab, line feed
// and carriage return in name and data are written \\ \t \n \r.
// Key and value names match case-insensitively in ASCII, as on Windows.
#pragma once

#include <filesystem>
#include <string_view>

#include "platform/os_error.h"
#include "util/expected.h"

namespace tarvo::platform {

// The folder of an HKLM key; `key_path` uses backslashes.
std::filesystem::path registry_key_folder(std::string_view key_path);

// Creates the key when missing and sets one value (stand-ins and tests).
Status<OsError> write_registry_value(std::string_view key_path, std::string_view value_name,
                                     std::string_view data, std::string_view type = "REG_SZ");

}  // namespace tarvo::platform
