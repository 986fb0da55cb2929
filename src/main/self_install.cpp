#include "main/self_install.h"

#include <fstream>
#include <optional>

#include "drivers/hidden_command.h"
#include "platform/admin_folder.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "text/powershell_quotes.h"

namespace tarvo {

namespace {

std::optional<std::string> read_program(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes;
    char buffer[64 * 1024];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0)
        bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (in.bad()) return std::nullopt;
    return bytes;
}

}  // namespace

InstallLocations install_locations() { return {program_data_folder()}; }

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
    // Written like the embedded files: never through a link, and not at all
    // when the copy already holds the program.
    const std::optional<std::string> program = read_program(running);
    const auto write_copy = [&] {
        return program && platform::write_file_if_differs(copy, *program, true).has_value();
    };
    if (write_copy()) return;
    // Windows refuses to replace a running program file but lets it be moved.
    (void)platform::replace_file(copy, where.old_copy());
    (void)write_copy();
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
