#include "main/start_up.h"

#include "drivers/embedded_files.h"
#include "drivers/program_data_folder.h"
#include "drivers/tap_adapter.h"
#include "drivers/tap_driver.h"
#include "main/self_install.h"
#include "platform/paths.h"

namespace tarvo {

StartupResult run_start_up(const std::vector<std::string>& args,
                           const std::optional<std::filesystem::path>& running) {
    StartupResult result;
    // Before the settings are read or written: without APPDATA they lie in
    // the program-data folder too.
    (void)secure_program_data_folder();
    result.config = load_client_config();
    result.options = apply_command_line(args, result.config,
                                        [](const ClientConfig& c) { save_client_config(c); });

    (void)extract_embedded_files();
    (void)extract_embedded_files();

    if (running) {
        const InstallLocations where = install_locations();
        install_program_copy(*running, where);
        create_desktop_shortcut(*running, where);
    }

    // May install the TAP-Windows driver, before any window is shown.
    if (!result.options.no_tap && !find_tap_adapter()) (void)ensure_tap_driver();
    return result;
}

StartupResult run_start_up(const std::vector<std::string>& args) {
    return run_start_up(args, platform::own_executable_path());
}

}  // namespace tarvo
