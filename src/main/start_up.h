// The program's start-up, up to the point where the window would open.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "main/client_config.h"
#include "main/command_line_options.h"

namespace tarvo {

struct StartupResult {
    ClientConfig config;  // what the window starts from
    StartupOptions options;
};

// Reads the settings, applies `args`, writes the embedded files (twice, the
// second pass filling what the first left), installs the program copy and
// re-creates the shortcut when `running`, the program's own file, is known,
// and, unless "--no-tap" is given, installs the TAP-Windows driver when no
// adapter is found (its outcome ignored).
StartupResult run_start_up(const std::vector<std::string>& args,
                           const std::optional<std::filesystem::path>& running);

// The same for this process's own program file, as the system tells it.
StartupResult run_start_up(const std::vector<std::string>& args);

}  // namespace tarvo
