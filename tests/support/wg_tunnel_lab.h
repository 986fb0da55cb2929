// A client and a hub network namespace joined by a veth pair, the hub running
// wireguard-go configured with `wg`, and the engine run in the client
// namespace by the wg_engine_child helper (POSIX, root). Everything is made
// for one test and removed again, also when the test fails half-way.
//
//   client namespace: veth 192.0.2.1/24; tarvo-client 198.51.100.2/32
//   hub namespace:    veth 192.0.2.2/24; wireguard-go 198.51.100.1/24, port 51820
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/adapter_lock.h"
#include "support/temp_folder.h"
#include "support/waiting.h"

namespace tarvo::testing {

inline constexpr const char* kHubTunnelAddress = "198.51.100.1";
inline constexpr const char* kClientTunnelAddress = "198.51.100.2";
// The L2 link of power_child's "l2" answer: its tunnel id, its subnet and the
// client's TAP address in it.
inline constexpr int kBridgeTunnelId = 1234;
inline constexpr const char* kBridgeSubnet = "203.0.113.0/24";
inline constexpr const char* kBridgeTapAddress = "203.0.113.77/24";

// A child process with its standard input and output as pipes.
class PipedChild {
public:
    PipedChild() = default;
    PipedChild(const PipedChild&) = delete;
    PipedChild& operator=(const PipedChild&) = delete;
    ~PipedChild() { stop(); }

    bool start(const std::vector<std::string>& argv) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0) return false;
        if (::pipe2(out, O_CLOEXEC) != 0) return false;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], STDIN_FILENO);
            ::dup2(out[1], STDOUT_FILENO);
            std::vector<char*> args;
            for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            ::execvp(args[0], args.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        to_child_ = in[1];
        from_child_ = out[0];
        return pid_ > 0;
    }

    // The next line, or nothing when the child ends or says nothing for
    // `limit` (as long as a test waits for anything, unless told).
    std::optional<std::string> read_line(std::chrono::milliseconds limit = kPatience) {
        while (true) {
            if (const auto eol = buffered_.find('\n'); eol != std::string::npos) {
                std::string line = buffered_.substr(0, eol);
                buffered_.erase(0, eol + 1);
                return line;
            }
            pollfd p{from_child_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(limit.count())) <= 0) return std::nullopt;
            char chunk[256];
            const ssize_t n = ::read(from_child_, chunk, sizeof chunk);
            if (n <= 0) return std::nullopt;
            buffered_.append(chunk, static_cast<std::size_t>(n));
        }
    }

    void send_line(const std::string& line) {
        const std::string text = line + "\n";
        (void)!::write(to_child_, text.data(), text.size());
    }

    // Waits for the child to end; kills it after `grace`.
    void stop(std::chrono::milliseconds grace = std::chrono::milliseconds(0)) {
        if (pid_ <= 0) return;
        if (to_child_ >= 0) ::close(to_child_);
        to_child_ = -1;
        const auto until = std::chrono::steady_clock::now() + grace;
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= until) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (from_child_ >= 0) ::close(from_child_);
        from_child_ = -1;
        pid_ = -1;
    }

    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int to_child_ = -1;
    int from_child_ = -1;
    std::string buffered_;
};

inline bool run_quietly(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

inline std::string output_of(const std::string& command) {
    std::string text;
    if (FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r")) {
        char chunk[256];
        while (const std::size_t n = std::fread(chunk, 1, sizeof chunk, pipe)) text.append(chunk, n);
        ::pclose(pipe);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

// Processes running `program name` (argv exactly) inside namespace `ns`.
inline std::vector<pid_t> processes_in(const std::string& ns, const std::string& program,
                                       const std::string& name) {
    std::vector<pid_t> found;
    struct stat wanted {};
    if (::stat(("/run/netns/" + ns).c_str(), &wanted) != 0) return found;
    const std::string argv = program + std::string(1, '\0') + name + std::string(1, '\0');
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream cmdline(entry.path() / "cmdline");
        const std::string text((std::istreambuf_iterator<char>(cmdline)), {});
        struct stat own {};
        if (text == argv && ::stat((entry.path() / "ns/net").c_str(), &own) == 0 &&
            own.st_ino == wanted.st_ino && own.st_dev == wanted.st_dev)
            found.push_back(static_cast<pid_t>(std::stoi(pid)));
    }
    return found;
}

class WgTunnelLab {
public:
    // Why the lab cannot be built here, or nothing when it can.
    static std::optional<std::string> unavailable() {
        if (::geteuid() != 0) return "needs root to create network namespaces";
        for (const char* tool : {"ip", "wireguard-go", "wg", "ping"})
            if (!run_quietly(std::string("command -v ") + tool))
                return std::string(tool) + " is not installed";
        return std::nullopt;
    }

    // The namespaces are `prefix` + "c-" or "h-" + this process's id.
    explicit WgTunnelLab(std::string wintools, const std::string& prefix = "tarvo-wg-")
        : suffix_(std::to_string(::getpid())),
          client_ns_(prefix + "c-" + suffix_),
          hub_ns_(prefix + "h-" + suffix_),
          hub_if_("twgh" + suffix_),
          wintools_(std::move(wintools)) {
        // The adapter's name is one for the whole machine: labs of other test
        // runs (other checkouts, the benchmark) wait for each other here.
        if (!adapter_lock_.held()) {
            error_ = adapter_lock_.error();
            return;
        }
        ready_ = build();
    }

    WgTunnelLab(const WgTunnelLab&) = delete;
    WgTunnelLab& operator=(const WgTunnelLab&) = delete;

    ~WgTunnelLab() {
        client_.stop(std::chrono::milliseconds(3000));
        // A client adapter the engine did not close (a failed test).
        for (const pid_t pid : processes_in(client_ns_, "wireguard-go", "tarvo-client")) ::kill(pid, SIGTERM);
        for (const pid_t pid : {hub_pid_, leftover_pid_}) {
            if (pid <= 0) continue;
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
        run_quietly("ip netns delete " + client_ns_);
        run_quietly("ip netns delete " + hub_ns_);
    }

    bool ready() const { return ready_; }
    const std::string& error() const { return error_; }
    const std::string& client_ns() const { return client_ns_; }
    const std::string& hub_ns() const { return hub_ns_; }

    // Starts `helper` in the client namespace, with `extra_env` ("NAME=value")
    // added to its environment, given the client's key, the hub's key and
    // endpoint, the client's tunnel address, the hub's subnet and then
    // `extra_args`; its first line follows.
    bool start_client(const std::string& helper, const std::string& extra_env = "TARVO_WG_TEST=1",
                      const std::vector<std::string>& extra_args = {}) {
        std::vector<std::string> argv{"ip",
                                      "netns",
                                      "exec",
                                      client_ns_,
                                      "env",
                                      "TARVO_NETNS=" + client_ns_,
                                      "TARVO_HOST_ROOT=" + root_.path().string(),
                                      extra_env,
                                      helper,
                                      client_private_,
                                      hub_public_,
                                      "192.0.2.2:51820",
                                      std::string(kClientTunnelAddress) + "/32",
                                      "198.51.100.0/24"};
        argv.insert(argv.end(), extra_args.begin(), extra_args.end());
        return client_.start(argv);
    }
    PipedChild& client() { return client_; }

    // A wireguard-go named tarvo-client in the client namespace, as a crashed
    // run would leave it; true once it answers on its socket.
    bool start_leftover_adapter() {
        leftover_pid_ = spawn_wireguard_go(client_ns_, "tarvo-client");
        return wait_for_socket("tarvo-client");
    }

    // Waits for that leftover process to end (it is reaped once it ended).
    Waited<bool> leftover_ended() {
        return wait_until("the leftover wireguard-go ended", [&] {
            if (leftover_pid_ > 0 && ::waitpid(leftover_pid_, nullptr, WNOHANG) != 0) leftover_pid_ = -1;
            return leftover_pid_ <= 0;
        });
    }

    // Pings `address` from namespace `ns` until it answers.
    static Waited<bool> ping_answered(const std::string& ns, const std::string& address) {
        return wait_until("an answer to ping " + address + " from " + ns,
                          [&] { return ping_once(ns, address); });
    }

    // One ping: for what must not answer, once what stopped it has been waited for.
    static bool ping_once(const std::string& ns, const std::string& address) {
        return run_quietly("ip netns exec " + ns + " ping -c 1 -W 1 " + address);
    }

    // Waits until the client namespace has no tarvo-client interface and no
    // wireguard-go for it.
    Waited<std::string> adapter_gone() {
        return wait_until(
            "no tarvo-client interface or wireguard-go in " + client_ns_,
            [&] {
                const std::string links = in_client("ip -o link show");
                const std::size_t processes = processes_in(client_ns_, "wireguard-go", "tarvo-client").size();
                if (links.find("tarvo-client") == std::string::npos && processes == 0) return std::string();
                return links + "\nwireguard-go processes: " + std::to_string(processes);
            },
            [](const std::string& left) { return left.empty(); });
    }

    std::string in_client(const std::string& command) {
        return output_of("ip netns exec " + client_ns_ + " " + command);
    }

private:
    bool step(const std::string& command) {
        if (run_quietly(command)) return true;
        error_ = "failed: " + command;
        return false;
    }

    static pid_t spawn_wireguard_go(const std::string& ns, const std::string& name) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("WG_PROCESS_FOREGROUND", "1", 1);
            ::setenv("LOG_LEVEL", "error", 1);
            ::execlp("ip", "ip", "netns", "exec", ns.c_str(), "wireguard-go", name.c_str(), nullptr);
            ::_exit(127);
        }
        return pid;
    }

    bool wait_for_socket(const std::string& name) {
        const std::string path = "/var/run/wireguard/" + name + ".sock";
        const auto socket = wait_until("wireguard-go's socket " + path, [&] {
            struct stat info {};
            return ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
        });
        if (!socket) error_ = socket.report;
        return socket.met;
    }

    bool build() {
        if (!step("ip netns add " + client_ns_) || !step("ip netns add " + hub_ns_)) return false;
        const std::string c = "ip -n " + client_ns_ + " ";
        const std::string h = "ip -n " + hub_ns_ + " ";
        if (!step(c + "link set lo up") || !step(h + "link set lo up") ||
            !step(c + "link add twa" + suffix_ + " type veth peer name twb" + suffix_ + " netns " +
                  hub_ns_) ||
            !step(c + "addr add 192.0.2.1/24 dev twa" + suffix_) ||
            !step(h + "addr add 192.0.2.2/24 dev twb" + suffix_) ||
            !step(c + "link set twa" + suffix_ + " up") || !step(h + "link set twb" + suffix_ + " up"))
            return false;

        client_private_ = output_of("wg genkey");
        const std::string client_public = output_of("echo " + client_private_ + " | wg pubkey");
        const std::string hub_private = output_of("wg genkey");
        hub_public_ = output_of("echo " + hub_private + " | wg pubkey");
        if (client_public.size() != 44 || hub_public_.size() != 44) {
            error_ = "wg genkey/pubkey gave no keys";
            return false;
        }
        const auto key_file = root_.path() / "hub.key";
        std::ofstream(key_file) << hub_private << "\n";

        hub_pid_ = spawn_wireguard_go(hub_ns_, hub_if_);
        if (!wait_for_socket(hub_if_)) return false;
        if (!step("ip netns exec " + hub_ns_ + " wg set " + hub_if_ + " private-key " + key_file.string() +
                  " listen-port 51820 peer " + client_public + " allowed-ips " + kClientTunnelAddress +
                  "/32") ||
            !step(h + "addr add " + kHubTunnelAddress + "/24 dev " + hub_if_) ||
            !step(h + "link set " + hub_if_ + " up"))
            return false;

        const auto system32 = root_.path() / "C" / "Windows" / "System32";
        std::filesystem::create_directories(system32);
        for (const char* tool : {"netsh", "powershell", "sc", "ping"})
            std::filesystem::create_symlink(wintools_, system32 / tool);
        return true;
    }

    AdapterLock adapter_lock_;  // first: taken before the lab is built, given back after it is gone
    std::string suffix_;
    std::string client_ns_;
    std::string hub_ns_;
    std::string hub_if_;
    std::string wintools_;
    TempFolder root_;
    std::string client_private_;
    std::string hub_public_;
    pid_t hub_pid_ = -1;
    pid_t leftover_pid_ = -1;
    PipedChild client_;
    bool ready_ = false;
    std::string error_;
};

}  // namespace tarvo::testing
