#include "wg_commands.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "child_program.h"
#include "command_forms.h"
#include "ipv4_text.h"
#include "netns_guard.h"
#include "platform/posix/host_root.h"

namespace tarvo::standins {

namespace {

bool is_ipv4_prefix(const std::string& text) {
    const std::size_t slash = text.find('/');
    if (slash == std::string::npos || !is_dotted_quad(text.substr(0, slash))) return false;
    const std::string length = text.substr(slash + 1);
    if (length.empty() || length.size() > 2) return false;
    for (const char c : length)
        if (c < '0' || c > '9') return false;
    return std::stoi(length) <= 32;
}

// Runs `ip` with `args`; its exit code (127 when it cannot run).
int run_ip(std::vector<std::string> args) {
    args.insert(args.begin(), "ip");
    return run_program(std::move(args));
}

bool acting(const std::string& tool) {
    if (may_change_network()) return true;
    std::fprintf(stderr, "%s\n", network_left_alone_note(tool).c_str());
    return false;
}

// netsh interface ipv4 set address name=tarvo-client static HOST 255.255.255.255
std::optional<int> netsh(const std::vector<std::string>& args) {
    const std::vector<std::string> head = {"interface", "ipv4", "set", "address",
                                           std::string("name=") + kWgAdapterName};
    if (args.size() < head.size() || !std::equal(head.begin(), head.end(), args.begin())) return std::nullopt;
    if (args.size() != 8 || args[5] != "static" || args[7] != "255.255.255.255" || !is_dotted_quad(args[6]))
        return refuse_command_line("netsh", args);
    if (!acting("netsh")) return 0;
    return run_ip({"address", "replace", args[6] + "/32", "dev", kWgAdapterName}) == 0 ? 0 : 1;
}

std::optional<int> powershell(const std::vector<std::string>& args) {
    const std::string mine = std::string("Set-NetIPInterface -InterfaceAlias '") + kWgAdapterName + "'";
    if (args.size() != 3 || args[2].rfind(mine, 0) != 0) return std::nullopt;
    const auto prefixes = parse_mtu_and_routes_script(args[2], kWgAdapterName);
    if (args[0] != "-NoProfile" || args[1] != "-Command" || !prefixes)
        return refuse_command_line("powershell", args);
    if (!acting("powershell")) return 0;
    int status = run_ip({"link", "set", "dev", kWgAdapterName, "mtu", "1420"});
    for (const std::string& prefix : *prefixes) {
        while (run_ip({"route", "del", prefix}) == 0) {
        }  // Remove-NetRoute takes every route to the prefix
        status |= run_ip({"route", "add", prefix, "dev", kWgAdapterName, "metric", "5"});
    }
    return status == 0 ? 0 : 1;
}

std::filesystem::path service_file(const std::string& name) {
    return platform::posix::host_root() / "tarvo-standin" / "services" / name;
}

// sc query|stop|delete NAME over services a test made as files.
int sc(const std::vector<std::string>& args) {
    if (args.size() != 2 || (args[0] != "query" && args[0] != "stop" && args[0] != "delete") ||
        args[1].find('/') != std::string::npos || args[1].empty() || args[1] == "." || args[1] == "..")
        return refuse_command_line("sc", args);
    const std::filesystem::path file = service_file(args[1]);
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) {
        std::printf(
            "[SC] OpenService FAILED 1060:\r\n\r\nThe specified service does not exist as an installed "
            "service.\r\n\r\n");
        return 1;  // 1060 on Windows; a Linux exit status keeps only 8 bits
    }
    if (args[0] == "delete") {
        std::filesystem::remove(file, ec);
        std::printf("[SC] DeleteService SUCCESS\r\n");
        return 0;
    }
    std::string state;
    std::getline(std::ifstream(file), state);
    if (args[0] == "stop") {
        state = "STOPPED";
        std::ofstream(file) << state << "\n";
    }
    std::printf(
        "\r\nSERVICE_NAME: %s\r\n        TYPE               : 10  WIN32_OWN_PROCESS\r\n"
        "        STATE              : %s\r\n",
        args[1].c_str(), state.empty() ? "RUNNING" : state.c_str());
    return 0;
}

}  // namespace

std::optional<std::vector<std::string>> parse_mtu_and_routes_script(const std::string& script,
                                                                    const std::string& adapter) {
    const std::string mtu = "Set-NetIPInterface -InterfaceAlias '" + adapter +
                            "' -NlMtuBytes 1420 -ErrorAction SilentlyContinue";
    if (script.rfind(mtu, 0) != 0) return std::nullopt;
    std::string rest = script.substr(mtu.size());
    std::vector<std::string> prefixes;
    const std::string remove = "; Remove-NetRoute -DestinationPrefix '";
    while (!rest.empty()) {
        if (rest.rfind(remove, 0) != 0) return std::nullopt;
        const std::size_t quote = rest.find('\'', remove.size());
        if (quote == std::string::npos) return std::nullopt;
        const std::string prefix = rest.substr(remove.size(), quote - remove.size());
        const std::string pair =
            remove + prefix +
            "' -Confirm:$false -ErrorAction SilentlyContinue; New-NetRoute -DestinationPrefix '" + prefix +
            "' -InterfaceAlias '" + adapter +
            "' -NextHop '0.0.0.0' -RouteMetric 5 -ErrorAction SilentlyContinue | Out-Null";
        if (!is_ipv4_prefix(prefix) || rest.rfind(pair, 0) != 0) return std::nullopt;
        prefixes.push_back(prefix);
        rest.erase(0, pair.size());
    }
    if (prefixes.empty()) return std::nullopt;  // the client runs no script without a route
    return prefixes;
}

std::optional<int> run_wg_command(const std::string& tool, const std::vector<std::string>& args) {
    if (tool == "sc") return sc(args);
    if (tool == "netsh") return netsh(args);
    if (tool == "powershell") return powershell(args);
    return std::nullopt;
}

}  // namespace tarvo::standins
