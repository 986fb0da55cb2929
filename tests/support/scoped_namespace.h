// A network namespace made for one test and removed again (root only).
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

namespace tarvo::testing {

class ScopedNamespace {
public:
    // Named `prefix` followed by this process's id.
    explicit ScopedNamespace(const std::string& prefix) : name_(prefix + std::to_string(::getpid())) {
        (void)std::system(("ip netns delete " + name_ + " 2>/dev/null").c_str());
        created_ = std::system(("ip netns add " + name_ + " 2>/dev/null").c_str()) == 0;
    }
    ~ScopedNamespace() {
        if (created_) (void)std::system(("ip netns delete " + name_).c_str());
    }
    ScopedNamespace(const ScopedNamespace&) = delete;
    ScopedNamespace& operator=(const ScopedNamespace&) = delete;

    bool created() const { return created_; }
    const std::string& name() const { return name_; }

    // Runs `body` on a thread of its own inside the namespace, with
    // TARVO_NETNS naming it, so the stand-ins that thread starts may act.
    void run_inside(const std::function<void()>& body) const {
        ::setenv("TARVO_NETNS", name_.c_str(), 1);
        std::thread inside([&] {
            const int fd = ::open(("/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC);
            const bool entered = fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
            if (fd >= 0) ::close(fd);
            if (entered) body();
            else ADD_FAILURE() << "could not enter the namespace " << name_;
        });
        inside.join();
        ::unsetenv("TARVO_NETNS");
    }

    // What `ip -n <namespace> <args>` prints.
    std::string ip(const std::string& args) const {
        std::string out;
        if (FILE* pipe = ::popen(("ip -n " + name_ + " " + args + " 2>&1").c_str(), "r")) {
            char buffer[512];
            for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
            ::pclose(pipe);
        }
        return out;
    }

private:
    std::string name_;
    bool created_ = false;
};

}  // namespace tarvo::testing
