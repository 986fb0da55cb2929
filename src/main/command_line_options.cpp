#include "main/command_line_options.h"

#include "orchestrator/access_code.h"

namespace tarvo {

StartupOptions apply_command_line(const std::vector<std::string>& args, ClientConfig& config,
                                  const std::function<void(const ClientConfig&)>& save) {
    StartupOptions options;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--code" || arg == "--key") {
            if (i + 1 >= args.size()) continue;  // a trailing option has no value
            ++i;                                 // the value is never read as an option
            std::string code = normalize_access_code(args[i]);
            if (!is_valid_access_code(code)) continue;
            config.DeviceCode = std::move(code);
            config.AutoConnect = true;
            save(config);
        } else if (arg == "--no-tap") {
            options.no_tap = true;
        } else if (arg == "--no-launch") {
            options.no_launch = true;
        }
    }
    return options;
}

}  // namespace tarvo
