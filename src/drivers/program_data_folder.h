// The program-data folder C:\ProgramData\TARVO: the elevated program runs its
// installed copy from there and loads and runs the embedded files from there,
// so it is an administrators' folder, and whatever anyone else could have put
// in it before it was one is removed.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "util/expected.h"

namespace tarvo {

// A folder of the client's own and the entries it keeps there.
struct OwnFolder {
    std::filesystem::path path;
    std::vector<std::string> files;  // kept when they are regular files of their own
    std::vector<OwnFolder> folders;  // kept when they are real folders, and treated the same way
};

inline constexpr std::string_view kProgramCopyName = "TarvoClient.exe";
inline constexpr std::string_view kOldProgramCopyName = "TarvoClient.old.exe";
// The settings lie in C:\ProgramData\TARVO\TARVO when APPDATA is missing.
inline constexpr std::string_view kSettingsFolderName = "TARVO";
inline constexpr std::string_view kSettingsFileName = "client.json";

std::filesystem::path program_data_folder();  // C:\ProgramData\TARVO
std::filesystem::path driver_folder();        // C:\ProgramData\TARVO\driver

// The embedded files by folder, in the order they are written.
inline constexpr std::string_view kProgramDataFiles[] = {"wireguard.dll", "wintun.dll"};
inline constexpr std::string_view kDriverFiles[] = {"tapinstall.exe", "OemVista.inf", "tap0901.cat",
                                                    "tap0901.sys"};

// C:\ProgramData\TARVO and what the client keeps there: the two libraries,
// the program copy and its old copy, the driver folder with the driver
// package, the settings folder with client.json.
OwnFolder program_data_layout();

// Makes the folder admin-only (creating it when missing). When it existed
// with another owner or rules, everything in it that is not one of its own
// entries is removed, and the kept ones get the admin-only owner and rules.
// "Błąd tworzenia {folder}: {error}" when the folder cannot be made or
// cleaned.
Status<std::string> secure_own_folder(const OwnFolder& folder);

// The program-data folder and its driver folder, in that order.
Status<std::string> secure_program_data_folder();

}  // namespace tarvo
