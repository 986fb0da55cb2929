// The simulated hub's process (TARVO_SIM_HUB), started inside a namespace
// with TARVO_NETNS naming it, or outside every namespace without it; ended
// with SIGTERM when the test is done with it.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/waiting.h"

extern char** environ;

namespace tarvo::testing {

class HubProcess {
public:
    HubProcess(const std::string& netns, const std::vector<std::string>& hub_args, bool inside_namespace) {
        std::vector<std::string> args;
        if (inside_namespace)
            args = {"/usr/bin/env", "ip", "netns", "exec", netns, "env", "TARVO_NETNS=" + netns};
        else args = {"/usr/bin/env", "-u", "TARVO_NETNS"};
        args.push_back(TARVO_SIM_HUB);
        args.insert(args.end(), hub_args.begin(), hub_args.end());
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
    }
    HubProcess(const HubProcess&) = delete;
    HubProcess& operator=(const HubProcess&) = delete;
    ~HubProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            wait();
        }
    }

    bool started() const { return pid_ > 0; }
    void signal(int number) const { ::kill(pid_, number); }
    int wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
};

// A TAP made beforehand in namespace `netns` (so it outlives the process that
// attaches to it), IPv4 only, addressed ("A.B.C.D/N") and up.
inline bool add_addressed_tap(const std::string& netns, const std::string& name, const std::string& address) {
    for (const std::string& step :
         {"ip -n " + netns + " tuntap add mode tap name " + name,
          "ip netns exec " + netns + " sysctl -qw net.ipv6.conf." + name + ".disable_ipv6=1",
          "ip -n " + netns + " addr add " + address + " dev " + name,
          "ip -n " + netns + " link set " + name + " up"})
        if (std::system((step + " >/dev/null 2>&1").c_str()) != 0) return false;
    return true;
}

// The counters of the hub's stats file, by name.
using HubStats = std::map<std::string, std::string>;

inline HubStats read_hub_stats(const std::filesystem::path& path) {
    HubStats stats;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        const auto equals = line.find('=');
        if (equals != std::string::npos) stats[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return stats;
}

inline long hub_count(const HubStats& stats, const std::string& name) {
    const auto found = stats.find(name);
    return found == stats.end() || found->second.empty() ? -1 : std::stol(found->second);
}

// The hub's first report after its `after`-th, waited for.
inline Waited<HubStats> wait_for_hub_report(const std::filesystem::path& path, long after) {
    return wait_until(
        "the hub's report after number " + std::to_string(after), [&] { return read_hub_stats(path); },
        [&](const HubStats& stats) { return hub_count(stats, "reports") > after; });
}

// The hub's counters as they are now: it is asked for a fresh report (empty
// when none came).
inline HubStats fresh_hub_report(const HubProcess& hub, const std::filesystem::path& path) {
    const long before = std::max(hub_count(read_hub_stats(path), "reports"), 0L);
    hub.signal(SIGUSR1);
    auto report = wait_for_hub_report(path, before);
    return report ? std::move(report.last) : HubStats{};
}

// Waits until the hub has counted `wanted` keepalives more than when called.
inline Waited<long> wait_for_keepalives(const HubProcess& hub, const std::filesystem::path& stats,
                                        long wanted) {
    const long before = hub_count(fresh_hub_report(hub, stats), "arp_keepalives");
    return wait_until(
        std::to_string(wanted) + " more keepalives counted by the hub (after " + std::to_string(before) + ")",
        [&] { return hub_count(fresh_hub_report(hub, stats), "arp_keepalives") - before; },
        [&](long more) { return more >= wanted; }, kPatience, std::chrono::milliseconds(500));
}

}  // namespace tarvo::testing
