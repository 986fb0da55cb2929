// The TAP installer stand-in, embedded as tapinstall.exe in the linux build.
// "install <inf> tap0901" adds an adapter the way the driver package would:
// a class subkey in the stand-in registry (ComponentId, a fresh GUID, a
// TAP-Windows description and the Linux interface that plays the adapter)
// and, inside a namespace of the project, that interface as a persistent TAP.
//
// TARVO_TAPINSTALL_OUTCOME lets a test pick a failure:
//   exit-1-with-adapter     the adapter is added, but the exit code is 1
//   exit-0-without-adapter  nothing is added, the exit code is 0
#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "call_log.h"
#include "netns_guard.h"
#include "platform/posix/adapter_registry.h"
#include "platform/posix/registry_files.h"
#include "platform/registry.h"

namespace {

std::string fresh_guid() {
    std::random_device random;
    unsigned char bytes[16];
    for (auto& b : bytes) b = static_cast<unsigned char>(random());
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // a random (version 4) GUID
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
    char text[39];
    std::snprintf(text, sizeof text, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                  bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

// The first four-digit instance number no subkey uses yet.
int free_instance_number() {
    int next = 0;
    for (const auto& adapter : tarvo::platform::registered_adapters()) {
        const auto& name = adapter.subkey;
        if (name.size() == 4 && name.find_first_not_of("0123456789") == std::string::npos)
            next = std::max(next, std::stoi(name) + 1);
    }
    return next;
}

// A TAP interface that outlives this process, as an installed adapter does.
bool create_persistent_tap(const std::string& name) {
    const int fd = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    struct ifreq request {};
    std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
    request.ifr_flags = IFF_TAP | IFF_NO_PI;
    const bool made = ::ioctl(fd, TUNSETIFF, &request) == 0 && ::ioctl(fd, TUNSETPERSIST, 1) == 0;
    const int error = errno;
    ::close(fd);
    if (!made) std::fprintf(stderr, "tapinstall: %s: %s\n", name.c_str(), std::strerror(error));
    return made;
}

bool add_adapter() {
    char subkey[8];
    const int number = free_instance_number();
    std::snprintf(subkey, sizeof subkey, "%04d", number);
    const std::string key = std::string(tarvo::platform::kNetworkAdapterClassKey) + "\\" + subkey;
    const std::string interface = "tarvotap" + std::to_string(number);

    if (tarvo::standins::may_change_network()) {
        if (!create_persistent_tap(interface)) return false;
    } else {
        std::fprintf(stderr, "%s\n", tarvo::standins::network_left_alone_note("tapinstall.exe").c_str());
    }
    using tarvo::platform::write_registry_value;
    return write_registry_value(key, "DriverDesc", "TAP-Windows Adapter V9").has_value() &&
           write_registry_value(key, "ComponentId", "tap0901").has_value() &&
           write_registry_value(key, tarvo::platform::kLinuxInterfaceValue, interface).has_value() &&
           write_registry_value(key, "NetCfgInstanceId", fresh_guid()).has_value();
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    tarvo::standins::record_call("tapinstall.exe", args);
    if (args.size() != 3 || args[0] != "install" || args[2] != "tap0901") {
        std::fprintf(stderr, "tapinstall: the stand-in knows only \"install <inf> tap0901\"\n");
        return 1;
    }
    const char* outcome_variable = std::getenv("TARVO_TAPINSTALL_OUTCOME");
    const std::string outcome = outcome_variable ? outcome_variable : "";

    std::printf("Device node created. Install is complete when drivers are installed...\n");
    std::printf("Updating drivers for tap0901 from %s.\n", args[1].c_str());
    if (outcome == "exit-0-without-adapter") {
        std::fprintf(stderr, "tapinstall: told to add no adapter\n");
        std::printf("Drivers installed successfully.\n");
        return 0;
    }
    if (!add_adapter()) {
        std::printf("UpdateDriverForPlugAndPlayDevices failed\n");
        return 2;
    }
    std::printf("Drivers installed successfully.\n");
    return outcome == "exit-1-with-adapter" ? 1 : 0;
}
