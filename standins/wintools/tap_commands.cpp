#include "tap_commands.h"

#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <bit>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "netns_guard.h"
#include "platform/posix/adapter_registry.h"
#include "platform/process.h"

namespace tarvo::standins {

namespace {

using platform::RegisteredAdapter;

const std::string kTapFilter =
    "Get-NetAdapter -IncludeHidden | Where-Object { $_.InterfaceDescription -like '*TAP-Windows*' -or "
    "$_.Name -eq "
    "'SD-WAN-L2' } | ";
const std::string kSwitchTail = " -Confirm:$false -ErrorAction SilentlyContinue";
const std::string kFirstTapHead = "Get-NetAdapter -IncludeHidden | Where-Object { $_.InterfaceGuid -eq '";
const std::string kFirstTapTail =
    "' -or $_.InterfaceDescription -like '*TAP-Windows*' } | Select-Object -First 1";
const std::string kStaticTail = "; if ($a) { netsh interface ipv4 set address name=\"$($a.Name)\" static ";

bool is_tap_windows(const RegisteredAdapter& a) {
    return a.description.find("TAP-Windows") != std::string::npos || a.linux_interface == "SD-WAN-L2";
}

// The adapter that netsh's "name=" means: its GUID or its name (the interface).
std::optional<RegisteredAdapter> adapter_named(const std::string& name) {
    for (auto& a : platform::registered_adapters())
        if (!a.linux_interface.empty() && (a.guid == name || a.linux_interface == name)) return a;
    return std::nullopt;
}

// Get-NetAdapter's "first adapter with this GUID or a TAP-Windows description".
std::optional<RegisteredAdapter> first_tap_or(const std::string& guid) {
    for (auto& a : platform::registered_adapters())
        if (!a.linux_interface.empty() && (a.guid == guid || is_tap_windows(a))) return a;
    return std::nullopt;
}

std::optional<int> prefix_of_mask(const std::string& mask) {
    unsigned a, b, c, d;
    char tail;
    if (std::sscanf(mask.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4 || a > 255 || b > 255 ||
        c > 255 || d > 255)
        return std::nullopt;
    const std::uint32_t bits = a << 24 | b << 16 | c << 8 | d;
    const int length = std::popcount(bits);
    if (bits != (length == 0 ? 0 : ~std::uint32_t{0} << (32 - length))) return std::nullopt;
    return length;
}

int ip(const std::vector<std::string>& args) {
    for (const char* program : {"/usr/sbin/ip", "/sbin/ip", "/bin/ip"}) {
        if (::access(program, X_OK) != 0) continue;
        const auto run = platform::run_process_hidden(program, args);
        if (!run) break;
        std::fputs(run->stderr_bytes.c_str(), stderr);
        return run->exit_code;
    }
    std::fputs("ip: not found\n", stderr);
    return 1;
}

// Effects wait for a namespace of the project; elsewhere the call is only noted.
bool network_may_change(const std::string& tool) {
    if (may_change_network()) return true;
    std::fprintf(stderr, "%s\n", network_left_alone_note(tool).c_str());
    return false;
}

int set_dhcp(const RegisteredAdapter& a) {
    if (!network_may_change("netsh")) return 0;
    return ip({"-4", "address", "flush", "dev", a.linux_interface});
}

int set_static(const RegisteredAdapter& a, const std::string& address, const std::string& mask) {
    const auto length = prefix_of_mask(mask);
    if (!length) {
        std::fprintf(stderr, "netsh: bad mask %s\n", mask.c_str());
        return 1;
    }
    if (!network_may_change("netsh")) return 0;
    if (const int flushed = ip({"-4", "address", "flush", "dev", a.linux_interface}); flushed != 0)
        return flushed;
    return ip({"address", "add", address + "/" + std::to_string(*length), "dev", a.linux_interface});
}

int switch_tap_adapters(bool up) {
    if (!network_may_change("powershell")) return 0;
    for (const auto& a : platform::registered_adapters())
        if (is_tap_windows(a) && !a.linux_interface.empty())
            (void)ip({"link", "set", "dev", a.linux_interface, up ? "up" : "down"});
    return 0;  // -ErrorAction SilentlyContinue
}

int print_mac(const std::string& guid) {
    if (!network_may_change("powershell")) return 0;
    const auto a = first_tap_or(guid);
    if (!a) return 0;
    // Asked through a socket: /sys shows the namespace it was mounted in, not ours.
    const int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    struct ifreq request {};
    std::strncpy(request.ifr_name, a->linux_interface.c_str(), IFNAMSIZ - 1);
    const bool known = probe >= 0 && ::ioctl(probe, SIOCGIFHWADDR, &request) == 0;
    if (probe >= 0) ::close(probe);
    if (!known) return 0;
    const auto* mac = reinterpret_cast<const unsigned char*>(request.ifr_hwaddr.sa_data);
    std::printf("%02X-%02X-%02X-%02X-%02X-%02X\r\n", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return 0;
}

std::optional<int> run_netsh(const std::vector<std::string>& args) {
    const bool set_address = args.size() >= 6 && args[0] == "interface" && args[1] == "ipv4" &&
                             args[2] == "set" && args[3] == "address" && args[4].starts_with("name=");
    if (!set_address) return std::nullopt;
    const std::string name = args[4].substr(5);
    const auto adapter = adapter_named(name);
    if (!adapter) return std::nullopt;
    if (args.size() == 6 && args[5] == "source=dhcp") return set_dhcp(*adapter);
    if (args.size() == 8 && args[5] == "static") return set_static(*adapter, args[6], args[7]);
    return std::nullopt;
}

// The text between `head` and `tail` when `text` is exactly head + X + tail.
std::optional<std::string> between(const std::string& text, const std::string& head,
                                   const std::string& tail) {
    if (text.size() < head.size() + tail.size() || !text.starts_with(head) || !text.ends_with(tail))
        return std::nullopt;
    return text.substr(head.size(), text.size() - head.size() - tail.size());
}

std::optional<int> run_static_script(const std::string& script) {
    // "$a = <first TAP>; if ($a) { netsh ... static A M }"
    const auto rest = between(script, "$a = " + kFirstTapHead, " }");
    if (!rest) return std::nullopt;
    const std::size_t quote = rest->find('\'');
    if (quote == std::string::npos) return std::nullopt;
    const auto address_and_mask = between(rest->substr(quote), kFirstTapTail + kStaticTail, "");
    if (!address_and_mask) return std::nullopt;
    std::istringstream words(*address_and_mask);
    std::string address, mask, extra;
    if (!(words >> address >> mask) || (words >> extra)) return std::nullopt;
    const auto adapter = first_tap_or(rest->substr(0, quote));
    if (!adapter) return 0;
    return set_static(*adapter, address, mask);
}

std::optional<int> run_powershell(const std::vector<std::string>& args) {
    if (args.size() != 3 || args[0] != "-NoProfile" || args[1] != "-Command") return std::nullopt;
    const std::string& script = args[2];
    if (script == kTapFilter + "Disable-NetAdapter" + kSwitchTail) return switch_tap_adapters(false);
    if (script == kTapFilter + "Enable-NetAdapter" + kSwitchTail) return switch_tap_adapters(true);
    if (const auto guid = between(script, "(" + kFirstTapHead, kFirstTapTail + ").MacAddress"))
        return print_mac(*guid);
    if (const auto code = run_static_script(script)) return code;
    // Only the adapter scripts above touch network adapters: any other is a
    // mistake in the client, which must not pass as success.
    if (script.find("NetAdapter") != std::string::npos) {
        std::fprintf(stderr, "powershell: the stand-in does not know this adapter script: %s\n",
                     script.c_str());
        return 1;
    }
    return std::nullopt;
}

}  // namespace

std::optional<int> run_tap_command(const std::string& tool, const std::vector<std::string>& args) {
    if (tool == "netsh") return run_netsh(args);
    if (tool == "powershell") return run_powershell(args);
    return std::nullopt;
}

}  // namespace tarvo::standins
