// The stand-ins' only protection of the developer's own network: they act
// when, and only when, they run inside the namespace TARVO_NETNS names.
#include "netns_guard.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace {

using tarvo::standins::may_change_network;

class ScopedEnv {
public:
    explicit ScopedEnv(const char* value) {
        if (value) ::setenv("TARVO_NETNS", value, 1);
        else ::unsetenv("TARVO_NETNS");
    }
    ~ScopedEnv() { ::unsetenv("TARVO_NETNS"); }
};

// A namespace made for the test and removed again.
class ScopedNamespace {
public:
    ScopedNamespace() : name_("tarvo-guard-" + std::to_string(::getpid())) {
        created_ = std::system(("ip netns add " + name_ + " 2>/dev/null").c_str()) == 0;
    }
    ~ScopedNamespace() {
        if (created_) (void)std::system(("ip netns delete " + name_).c_str());
    }
    bool created() const { return created_; }
    const std::string& name() const { return name_; }

private:
    std::string name_;
    bool created_ = false;
};

TEST(NetnsGuard, RefusesWithoutAUsableName) {
    for (const char* value :
         {static_cast<const char*>(nullptr), "", "no-such-namespace-here", "../../proc/self/ns/net", "."}) {
        ScopedEnv env(value);
        EXPECT_FALSE(may_change_network()) << (value ? value : "(unset)");
    }
}

TEST(NetnsGuard, ActsOnlyInsideTheNamedNamespace) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to create a network namespace";
    ScopedNamespace ns;
    if (!ns.created()) GTEST_SKIP() << "ip netns add failed: no network namespaces here";
    ScopedEnv env(ns.name().c_str());

    // The test process itself is still in the machine's namespace.
    EXPECT_FALSE(may_change_network());

    bool inside = false;
    bool entered = false;
    std::thread([&] {
        const int fd = ::open(("/run/netns/" + ns.name()).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return;
        entered = ::setns(fd, CLONE_NEWNET) == 0;
        ::close(fd);
        if (entered) inside = may_change_network();
    }).join();
    ASSERT_TRUE(entered);
    EXPECT_TRUE(inside);
}

}  // namespace
