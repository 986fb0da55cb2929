// The program's start-up, up to the point where the window would open.
#pragma once

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
// re-creates the shortcut when the program's own path is known. The TAP
// adapter step is not part of it yet; "--no-tap" is accepted all the same.
StartupResult run_start_up(const std::vector<std::string>& args);

}  // namespace tarvo
