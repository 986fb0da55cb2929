// The program's own copy under the program-data folder and its desktop
// shortcut, both re-made at every start.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "drivers/program_data_folder.h"

namespace tarvo {

struct InstallLocations {
    std::filesystem::path program_data;  // C:\ProgramData\TARVO
    std::filesystem::path program_copy() const { return program_data / kProgramCopyName; }
    std::filesystem::path old_copy() const { return program_data / kOldProgramCopyName; }
};

InstallLocations install_locations();

// Copies the running program to the installed copy unless it is that file or
// already holds the same bytes (never writing through a link); a copy that
// cannot be replaced is moved aside as TarvoClient.old.exe first. Errors are
// ignored.
void install_program_copy(const std::filesystem::path& running, const InstallLocations& where);

// The one-line PowerShell script that (re)creates "Tarvo Client.lnk" on the
// desktop; `target` and `working_folder` are path texts with PowerShell's
// quote characters already doubled.
std::string shortcut_script(std::string_view target, std::string_view working_folder);

// The script for the installed copy when it exists, else for `running`.
std::string shortcut_script_for(const std::filesystem::path& running, const InstallLocations& where);

// Runs the shortcut script through a hidden powershell; the result is ignored.
void create_desktop_shortcut(const std::filesystem::path& running, const InstallLocations& where);

}  // namespace tarvo
