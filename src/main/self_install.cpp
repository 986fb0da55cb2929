#include "main/self_install.h"

#include "drivers/hidden_command.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "text/powershell_quotes.h"

namespace tarvo {

InstallLocations install_locations() { return {platform::host_path("C:\\ProgramData\\TARVO")}; }

void install_program_copy(const std::filesystem::path& running, const InstallLocations& where) {
    const auto copy = where.program_copy();
    // Component by component, so redundant separators do not make a difference.
    if (running.lexically_normal() == copy.lexically_normal()) return;
    // The same file under another spelling (drive-letter case, a link) must not
    // be copied onto itself: the fallback would move the running copy aside
    // and then find nothing to copy from.
    if (platform::is_same_file(running, copy)) return;
    std::error_code ec;
    std::filesystem::remove(where.old_copy(), ec);
    if (platform::copy_file_over(running, copy)) return;
    // Windows refuses to overwrite a running program file but lets it be moved.
    (void)platform::replace_file(copy, where.old_copy());
    (void)platform::copy_file_over(running, copy);
}

std::string shortcut_script(std::string_view target, std::string_view working_folder) {
    std::string script =
        "$d = [Environment]::GetFolderPath('Desktop'); if ($d) { $lnk = Join-Path $d 'Tarvo Client.lnk'; "
        "$ws = New-Object -ComObject WScript.Shell; $sc = $ws.CreateShortcut($lnk); $sc.TargetPath = '";
    script += target;
    script += "'; $sc.WorkingDirectory = '";
    script += working_folder;
    script += "'; $sc.IconLocation = '";
    script += target;
    script += ",0'; $sc.Description = 'Tarvo Enterprise Client (C++ Native L2/L3)'; $sc.Save() }";
    return script;
}

std::string shortcut_script_for(const std::filesystem::path& running, const InstallLocations& where) {
    std::error_code ec;
    const auto target = std::filesystem::exists(where.program_copy(), ec) ? where.program_copy() : running;
    return shortcut_script(text::double_powershell_quotes(platform::path_text(target)),
                           text::double_powershell_quotes(platform::path_text(where.program_data)));
}

void create_desktop_shortcut(const std::filesystem::path& running, const InstallLocations& where) {
    (void)run_hidden("powershell", {"-NoProfile", "-Command", shortcut_script_for(running, where)});
}

}  // namespace tarvo
