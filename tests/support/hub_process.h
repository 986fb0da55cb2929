// The simulated hub's process (TARVO_SIM_HUB), started inside a namespace
// with TARVO_NETNS naming it, or outside every namespace without it; ended
// with SIGTERM when the test is done with it.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace tarvo::testing {

class HubProcess {
public:
    HubProcess(const std::string& netns, const std::vector<std::string>& hub_args, bool inside_namespace) {
        std::vector<std::string> args;
        if (inside_namespace) args = {"/usr/bin/env", "ip", "netns", "exec", netns, "env", "TARVO_NETNS=" + netns};
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

}  // namespace tarvo::testing
