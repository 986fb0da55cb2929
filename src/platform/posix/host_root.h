// The folder that stands for the Windows drives on the linux build:
// $TARVO_HOST_ROOT, or /var/lib/tarvo-host when that variable is unset or
// empty. The platform layer and the tool stand-ins both use it.
#pragma once

#include <cstdlib>
#include <filesystem>

namespace tarvo::platform::posix {

inline std::filesystem::path host_root() {
    const char* root = std::getenv("TARVO_HOST_ROOT");
    return (root && *root) ? std::filesystem::path(root) : std::filesystem::path("/var/lib/tarvo-host");
}

}  // namespace tarvo::platform::posix
