// Network namespaces that a test creates for itself and always removes:
// whatever a test changes in the network stays inside them.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/gre_socket.h"

namespace tarvo::testing {

inline bool run_command(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Two namespaces "<prefix><pid>-a" and "-b" joined by a veth pair named
// "veth0" on both sides, with address_a and address_b (a /24) on its ends.
class VethNamespacePair {
public:
    VethNamespacePair(const std::string& prefix, const std::string& address_a, const std::string& address_b)
        : a_(prefix + std::to_string(::getpid()) + "-a"), b_(prefix + std::to_string(::getpid()) + "-b") {
        for (const auto& name : {a_, b_}) {
            if (!run_command("ip netns add " + name)) return;
            created_.push_back(name);
        }
        ready_ = run_command("ip -n " + a_ + " link add veth0 type veth peer name veth0 netns " + b_) &&
                 run_command("ip -n " + a_ + " addr add " + address_a + "/24 dev veth0") &&
                 run_command("ip -n " + b_ + " addr add " + address_b + "/24 dev veth0") &&
                 run_command("ip -n " + a_ + " link set veth0 up") &&
                 run_command("ip -n " + b_ + " link set veth0 up") &&
                 run_command("ip -n " + a_ + " link set lo up") &&
                 run_command("ip -n " + b_ + " link set lo up");
    }
    VethNamespacePair(const VethNamespacePair&) = delete;
    VethNamespacePair& operator=(const VethNamespacePair&) = delete;
    ~VethNamespacePair() {
        for (const auto& name : created_) run_command("ip netns delete " + name);
    }

    bool ready() const { return ready_; }
    const std::string& a() const { return a_; }
    const std::string& b() const { return b_; }

private:
    std::string a_;
    std::string b_;
    std::vector<std::string> created_;
    bool ready_ = false;
};

// Runs `work` on a thread that has entered the namespace `name` (sockets it
// opens stay in that namespace); false when the namespace cannot be entered.
inline bool run_in_namespace(const std::string& name, const std::function<void()>& work) {
    bool entered = false;
    std::thread([&] {
        const int fd = ::open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return;
        entered = ::setns(fd, CLONE_NEWNET) == 0;
        ::close(fd);
        if (entered) work();
    }).join();
    return entered;
}

// A raw GRE socket of the namespace `name`, bound to `local`, with the
// bridge's 250-ms receive time-out; null when any step fails.
inline std::unique_ptr<platform::GreSocket> open_gre_socket_in(const std::string& name,
                                                               const Ipv4Address& local) {
    std::unique_ptr<platform::GreSocket> result;
    run_in_namespace(name, [&] {
        auto socket = platform::open_gre_socket();
        if (!socket || !(*socket)->set_receive_timeout(std::chrono::milliseconds(250)) ||
            !(*socket)->bind(local)) {
            return;
        }
        result = std::move(*socket);
    });
    return result;
}

}  // namespace tarvo::testing
