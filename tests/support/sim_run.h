// The whole client against the simulated SD-WAN through its launcher
// (sim/launch/run-sim), seen from outside: one run in the background, its
// logs, the client namespace's network and the window's screenshots.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/temp_folder.h"
#include "support/wg_tunnel_lab.h"

#ifndef TARVO_SOURCE_DIR
#error "the test build defines TARVO_SOURCE_DIR and TARVO_BUILD_DIR"
#endif

namespace tarvo::testing {

using namespace std::chrono_literals;

inline const std::string kClientNs = "tarvo-sim-c";

inline std::string file_text(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline bool eventually(const std::function<bool()>& condition, std::chrono::seconds limit) {
    for (const auto until = std::chrono::steady_clock::now() + limit;
         std::chrono::steady_clock::now() < until;) {
        if (condition()) return true;
        std::this_thread::sleep_for(100ms);
    }
    return condition();
}

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// One launcher run in the background; its output goes to a file in `out`.
class SimRun {
public:
    static std::optional<std::string> unavailable(bool window) {
        if (::geteuid() != 0) return "needs root to create network namespaces";
        std::vector<std::string> tools{"ip", "wireguard-go", "wg", "ping", "setsid", "flock"};
        if (window) tools.insert(tools.end(), {"Xvfb", "import", "convert", "xdotool"});
        for (const std::string& tool : tools)
            if (!run_quietly("command -v " + tool)) return tool + " is not installed";
        return std::nullopt;
    }

    // `client`: empty for the real program with its window under Xvfb, else a
    // program run in its place without a display. `run_for`: the launcher's
    // own bound on the run, in seconds.
    SimRun(const std::string& scenario, const std::string& client, int run_for = 90) {
        std::vector<std::string> argv{"bash",       std::string(TARVO_SOURCE_DIR) + "/sim/launch/run-sim",
                                      "--build",    TARVO_BUILD_DIR,
                                      "--out",      out_.path().string(),
                                      "--scenario", scenario,
                                      "--for",      std::to_string(run_for)};
        if (!client.empty()) argv.insert(argv.end(), {"--client", client, "--no-display"});
        const std::string launcher_out = (out_.path() / "launcher.out").string();
        pid_ = ::fork();
        if (pid_ == 0) {
            const int fd = ::open(launcher_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(fd, STDOUT_FILENO);
            ::dup2(fd, STDERR_FILENO);
            ::unsetenv("DISPLAY");  // the launcher's own Xvfb, never the tester's screen
            std::vector<char*> args;
            for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            ::execvp(args[0], args.data());
            ::_exit(127);
        }
    }
    ~SimRun() { (void)stop(); }

    bool running_client() {
        return eventually([&] { return contains(launcher(), "== running; Ctrl-C ends it"); }, 60s);
    }

    std::string launcher() const { return file_text(out_.path() / "launcher.out"); }
    std::string requests() const { return file_text(out_.path() / "requests.log"); }
    std::string client_log() const { return file_text(out_.path() / "client.log"); }
    const std::filesystem::path& out() const { return out_.path(); }

    // Ctrl-C; the launcher's exit code, or -1 when it did not end within 60 s.
    int stop() {
        if (pid_ <= 0) return status_;
        ::kill(pid_, SIGINT);
        int status = 0;
        for (int i = 0; i < 600 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(100ms);
        if (::waitpid(pid_, &status, WNOHANG) == 0 && ::kill(pid_, 0) == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            status_ = -1;
        } else {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        pid_ = -1;
        return status_;
    }

    // SIGKILL, as a crash or a closed terminal would end it.
    void kill_hard() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    TempFolder out_;
    pid_t pid_ = -1;
    int status_ = -1;
};

inline bool pings(const std::string& address) {
    return run_quietly("ip netns exec " + kClientNs + " ping -c 1 -W 1 " + address);
}

inline bool has_tunnel_interface() {
    return contains(output_of("ip -n " + kClientNs + " -o link show"), "tarvo-client");
}

// "(host root /tmp/tarvo-sim-host.XXXXXX)" in the launcher's output.
inline std::string host_root_of(const std::string& launcher_out) {
    const std::size_t at = launcher_out.find("(host root ");
    if (at == std::string::npos) return {};
    return launcher_out.substr(at + 11, launcher_out.find(')', at) - at - 11);
}

// What the launcher must leave behind: nothing.
inline std::vector<std::string> leftovers(const std::string& launcher_out) {
    std::vector<std::string> found;
    const std::string namespaces = output_of("ip netns list");
    for (const char* ns : {"tarvo-sim-c", "tarvo-sim-h", "tarvo-sim-lan"})
        if (contains(namespaces, ns)) found.push_back(std::string("namespace ") + ns);
    if (std::filesystem::exists("/etc/netns/tarvo-sim-c")) found.push_back("/etc/netns/tarvo-sim-c");
    for (const char* socket : {"/run/wireguard/tarvo-client.sock", "/run/wireguard/tarvo-sim-hub.sock"})
        if (std::filesystem::exists(socket)) found.push_back(socket);
    const std::string root = host_root_of(launcher_out);
    if (!root.empty() && std::filesystem::exists(root)) found.push_back(root);
    return found;
}

// How many pixels of the screenshot have exactly this colour.
inline long pixels_of(const std::filesystem::path& png, const std::string& rgb) {
    const std::string histogram = output_of("convert " + png.string() + " -format %c histogram:info:-");
    std::istringstream lines(histogram);
    for (std::string line; std::getline(lines, line);)
        if (contains(line, "(" + rgb + ")")) return std::stol(line.substr(0, line.find(':')));
    return 0;
}

// The centre of the pixels of exactly this colour, or nothing.
inline std::optional<std::pair<int, int>> centre_of(const std::filesystem::path& png,
                                                    const std::string& rgb) {
    // "shot.png PNG 337x47 1280x900+649+274 ..."
    std::istringstream words(
        output_of("convert " + png.string() + " -fill black +opaque \"rgb(" + rgb + ")\" -trim info:-"));
    std::string name, kind, size, page;
    int w = 0, h = 0, x = 0, y = 0;
    if (!(words >> name >> kind >> size >> page) || std::sscanf(size.c_str(), "%dx%d", &w, &h) != 2 ||
        std::sscanf(page.c_str(), "%*dx%*d+%d+%d", &x, &y) != 2 || w < 10 || h < 10)
        return std::nullopt;
    return std::pair{x + w / 2, y + h / 2};
}

// The launcher's Xvfb display, ":N".
inline std::string display_of(const std::string& launcher_out) {
    const std::size_t at = launcher_out.find("no display: Xvfb ");
    if (at == std::string::npos) return {};
    return launcher_out.substr(at + 17, launcher_out.find(',', at) - at - 17);
}

}  // namespace tarvo::testing
