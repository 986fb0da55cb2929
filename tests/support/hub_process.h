// The simulated hub's process (TARVO_SIM_HUB), started inside a namespace
// with TARVO_NETNS naming it, or outside every namespace without it; ended
// with SIGTERM when the test is done with it.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

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

// A report newer than `after`, waited for up to 10 s; empty when none came.
inline HubStats wait_for_hub_report(const std::filesystem::path& path, long after) {
    for (int i = 0; i < 1000; ++i) {
        HubStats stats = read_hub_stats(path);
        if (!stats.empty() && std::stol(stats["reports"]) > after) return stats;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {};
}

// The hub's counters as they are now: it is asked for a fresh report.
inline HubStats fresh_hub_report(const HubProcess& hub, const std::filesystem::path& path) {
    const HubStats last = read_hub_stats(path);
    const long before = last.count("reports") ? std::stol(last.at("reports")) : 0;
    hub.signal(SIGUSR1);
    return wait_for_hub_report(path, before);
}

inline long hub_count(const HubStats& stats, const std::string& name) {
    const auto found = stats.find(name);
    return found == stats.end() ? -1 : std::stol(found->second);
}

// How many keepalives the hub counted over `window`.
inline long keepalives_over(const HubProcess& hub, const std::filesystem::path& stats,
                            std::chrono::seconds window) {
    const long before = hub_count(fresh_hub_report(hub, stats), "arp_keepalives");
    std::this_thread::sleep_for(window);
    return hub_count(fresh_hub_report(hub, stats), "arp_keepalives") - before;
}

}  // namespace tarvo::testing
