#include "userspace_device.h"

#include <fcntl.h>
#include <net/if.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

extern char** environ;

namespace tarvo::standins {

namespace {

using namespace std::chrono_literals;
constexpr auto kStartLimit = 5s;
constexpr auto kStopLimit = 5s;
constexpr auto kPoll = 1ms;

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

Expected<pid_t, std::string> start_wireguard_go(const std::string& name) {
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

    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv, env.data());
    ::posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return unexpected("wireguard-go cannot be started: " + std::string(std::strerror(rc)));

    int status = 0;
    bool exited = false;
    const bool ready = wait_until(
        [&] {
            if (::waitpid(pid, &status, WNOHANG) == pid) exited = true;
            return exited || (uapi_answers(name) && link_exists(name));
        },
        kStartLimit);
    if (exited) {
        return unexpected("wireguard-go " + name + " ended at start (exit status " +
                          std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)) +
                          ")");
    }
    if (!ready) {
        stop_wireguard_go(pid, name);
        return unexpected("wireguard-go " + name + " did not answer on " + uapi_socket_path(name));
    }
    return pid;
}

void end_foreign_wireguard_go(const std::string& name) {
    ::unlink(uapi_socket_path(name).c_str());
    wait_until([&] { return !link_exists(name); }, kStopLimit);
}

void stop_wireguard_go(pid_t pid, const std::string& name) {
    ::kill(pid, SIGTERM);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
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
