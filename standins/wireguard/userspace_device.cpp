#include "userspace_device.h"

#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

extern char** environ;

namespace tarvo::standins {

namespace {

using namespace std::chrono_literals;
constexpr auto kStartLimit = 5s;
constexpr auto kStopLimit = 5s;
constexpr auto kPoll = 1ms;
// Room beyond the watcher's own bounded wait before it is killed itself.
constexpr auto kWatcherSlack = 5s;
constexpr int kLifelineFd = 3;

std::string errno_text(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

int connect_uapi(const std::string& name) {
    const std::string path = uapi_socket_path(name);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool link_exists(const std::string& name) { return ::if_nametoindex(name.c_str()) != 0; }

template <class Done>
bool wait_until(Done done, std::chrono::steady_clock::duration limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(kPoll);
    }
    return true;
}

// The absolute path of `program` along PATH, as posix_spawnp would find it.
std::optional<std::string> find_program(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string_view dirs = path ? path : "/usr/bin:/bin";
    while (true) {
        const std::size_t colon = dirs.find(':');
        std::string dir(dirs.substr(0, colon));
        if (dir.empty()) dir = ".";
        const std::string candidate = dir + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        if (colon == std::string_view::npos) return std::nullopt;
        dirs.remove_prefix(colon + 1);
    }
}

bool child_ended(pid_t child, int& status) { return ::waitpid(child, &status, WNOHANG) == child; }

int exit_status_code(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

void pause_briefly() {
    const timespec step{0, 10'000'000};
    ::nanosleep(&step, nullptr);
}

// Ends wireguard-go: SIGTERM, then SIGKILL once it has had kStopLimit.
int end_child(pid_t child) {
    int status = 0;
    ::kill(child, SIGTERM);
    const long steps = std::chrono::duration_cast<std::chrono::milliseconds>(kStopLimit).count() / 10;
    for (long i = 0; i < steps; ++i) {
        if (child_ended(child, status)) return exit_status_code(status);
        pause_briefly();
    }
    ::kill(child, SIGKILL);
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return exit_status_code(status);
}

// The watcher: a fork of the client that runs wireguard-go as its child and
// ends it once the lifeline reads end-of-file, i.e. once the client closed
// its write end or ended. Only async-signal-safe calls from here on, as the
// client has other threads.
[[noreturn]] void run_watcher(int lifeline, int null_device, const char* path, char* const argv[],
                              char* const envp[]) {
    // Signals as a fresh program has them: the client's handlers and mask
    // mean nothing here.
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) (void)::sigaction(signal, &default_action, nullptr);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    (void)::prctl(PR_SET_NAME, "wg-watch");
    // Standard input and output the null device, standard error kept for
    // wireguard-go, the lifeline at 3; every other descriptor of the client
    // (its pipes, sockets, devices, other adapters' lifelines) closed, so this
    // process holds nothing of it open.
    ::dup2(null_device, STDIN_FILENO);
    ::dup2(null_device, STDOUT_FILENO);
    if (lifeline != kLifelineFd) ::dup2(lifeline, kLifelineFd);
    ::fcntl(kLifelineFd, F_SETFD, FD_CLOEXEC);
    if (::close_range(kLifelineFd + 1, ~0U, 0) != 0) {
        for (int fd = kLifelineFd + 1; fd < 65536; ++fd) ::close(fd);
    }

    const pid_t child = ::fork();
    if (child == 0) {
        ::execve(path, argv, envp);
        ::_exit(127);
    }
    if (child < 0) ::_exit(126);
    int status = 0;
    while (true) {
        if (child_ended(child, status)) ::_exit(exit_status_code(status));
        pollfd end_of_life{kLifelineFd, POLLIN, 0};
        if (::poll(&end_of_life, 1, 100) > 0) {
            char byte = 0;
            const ssize_t n = ::read(kLifelineFd, &byte, 1);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) ::_exit(end_child(child));
        }
    }
}

}  // namespace

std::string uapi_socket_path(const std::string& name) { return "/var/run/wireguard/" + name + ".sock"; }

Expected<std::string, std::string> uapi_exchange(const std::string& name, const std::string& request) {
    const int fd = connect_uapi(name);
    if (fd < 0) return unexpected(errno_text(("UAPI socket of " + name).c_str()));
    std::size_t sent = 0;
    while (sent < request.size()) {
        const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            ::close(fd);
            return unexpected(errno_text("UAPI send"));
        }
        sent += static_cast<std::size_t>(n);
    }
    std::string reply;
    char buffer[4096];
    while (reply.find("\n\n") == std::string::npos) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        reply.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (reply.find("\n\n") == std::string::npos) return unexpected(std::string("UAPI answer cut short"));
    return reply;
}

bool uapi_answers(const std::string& name) {
    const int fd = connect_uapi(name);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

Expected<WireguardGo, std::string> start_wireguard_go(const std::string& name) {
    std::vector<std::string> env_texts;
    for (char** e = environ; *e; ++e) {
        const std::string_view entry(*e);
        if (!entry.starts_with("WG_PROCESS_FOREGROUND=") && !entry.starts_with("LOG_LEVEL="))
            env_texts.emplace_back(entry);
    }
    env_texts.emplace_back("WG_PROCESS_FOREGROUND=1");
    env_texts.emplace_back("LOG_LEVEL=error");
    std::vector<char*> env;
    for (std::string& e : env_texts) env.push_back(e.data());
    env.push_back(nullptr);
    std::string program = "wireguard-go";
    std::string arg = name;
    char* argv[] = {program.data(), arg.data(), nullptr};
    // Found before the fork: the watcher may only make async-signal-safe calls.
    auto path = find_program(program);
    if (!path) return unexpected("wireguard-go cannot be started: " + std::string(std::strerror(ENOENT)));

    int lifeline[2];
    if (::pipe2(lifeline, O_CLOEXEC) != 0) return unexpected(errno_text("lifeline pipe"));
    const int null_device = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    const pid_t watcher = null_device < 0 ? -1 : ::fork();
    if (watcher == 0) run_watcher(lifeline[0], null_device, path->c_str(), argv, env.data());
    const std::string failure = errno_text(null_device < 0 ? "/dev/null" : "fork");
    ::close(lifeline[0]);
    if (null_device >= 0) ::close(null_device);
    if (watcher < 0) {
        ::close(lifeline[1]);
        return unexpected("wireguard-go cannot be started: " + failure);
    }
    WireguardGo started{watcher, lifeline[1]};

    int status = 0;
    bool exited = false;
    const bool ready = wait_until(
        [&] {
            if (::waitpid(watcher, &status, WNOHANG) == watcher) exited = true;
            return exited || (uapi_answers(name) && link_exists(name));
        },
        kStartLimit);
    if (exited) {
        ::close(started.lifeline);
        // The watcher ends with wireguard-go's status.
        return unexpected("wireguard-go " + name + " ended at start (exit status " +
                          std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)) +
                          ")");
    }
    if (!ready) {
        stop_wireguard_go(started, name);
        return unexpected("wireguard-go " + name + " did not answer on " + uapi_socket_path(name));
    }
    return started;
}

void end_foreign_wireguard_go(const std::string& name) {
    ::unlink(uapi_socket_path(name).c_str());
    wait_until([&] { return !link_exists(name); }, kStopLimit);
}

void stop_wireguard_go(WireguardGo& process, const std::string& name) {
    if (process.lifeline >= 0) ::close(process.lifeline);
    process.lifeline = -1;
    if (process.watcher > 0) {
        // The watcher's own wait is bounded; should it still not end, it is
        // killed, and the wait for the link below bounds what is left.
        int status = 0;
        const auto watcher_ended = [&] { return ::waitpid(process.watcher, &status, WNOHANG) != 0; };
        if (!wait_until(watcher_ended, kStopLimit + kWatcherSlack)) {
            ::kill(process.watcher, SIGKILL);
            while (::waitpid(process.watcher, &status, 0) < 0 && errno == EINTR) {
            }
        }
    }
    process.watcher = -1;
    // Its UDP sockets closed with the process; the link may lag behind it.
    wait_until([&] { return !link_exists(name); }, kStopLimit);
}

Expected<Unit, std::string> set_link_up(const std::string& name, bool up) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return unexpected(errno_text("socket"));
    ifreq request{};
    std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
    bool ok = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    if (ok) {
        request.ifr_flags = static_cast<short>(up ? (request.ifr_flags | IFF_UP)
                                                  : (request.ifr_flags & ~IFF_UP));
        ok = ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    }
    const std::string error = ok ? "" : errno_text(("link " + name).c_str());
    ::close(fd);
    if (!ok) return unexpected(error);
    return Unit{};
}

}  // namespace tarvo::standins
