// The start-up options of the command line.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "main/client_config.h"

namespace tarvo {

struct StartupOptions {
    bool no_tap = false;     // "--no-tap": skip the TAP adapter step
    bool no_launch = false;  // "--no-launch": end after the start-up steps
};

// Walks `args` from the second one on. "--code"/"--key" consume the next
// argument; a well-formed code becomes DeviceCode with AutoConnect set and is
// handed to `save` at once. Options match whole and case-sensitively; any
// other argument is ignored.
StartupOptions apply_command_line(const std::vector<std::string>& args, ClientConfig& config,
                                  const std::function<void(const ClientConfig&)>& save);

}  // namespace tarvo
