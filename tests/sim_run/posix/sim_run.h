// One run of the simulated SD-WAN's launcher (sim/launch/run-sim) for the
// end-to-end tests, bounded waits on what they check, what they look at (the
// client namespace's network, the window's screenshots) and the list of what
// a run must not leave behind (root only).
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
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

#include "support/adapter_lock.h"
#include "support/temp_folder.h"
#include "support/wg_tunnel_lab.h"

namespace tarvo::testing {

using namespace std::chrono_literals;

// The sanitizer builds run the orchestrator, the hub and the client several
// times slower; every bound is this many times longer there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr int kSlowdown = 4;
#else
inline constexpr int kSlowdown = 1;
#endif

inline std::chrono::seconds patience(std::chrono::seconds base) { return base * kSlowdown; }

inline std::string file_text(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Polls `condition` until it holds or `limit` (times kSlowdown) passes. A
// failure names what was awaited, how long it waited and what `seen` showed last.
inline ::testing::AssertionResult awaited(const std::string& what, const std::function<bool()>& condition,
                                          std::chrono::seconds limit,
                                          const std::function<std::string()>& seen = {}) {
    const auto bound = patience(limit);
    const auto start = std::chrono::steady_clock::now();
    while (!condition()) {
        if (std::chrono::steady_clock::now() - start >= bound) {
            if (condition()) break;
            auto failure = ::testing::AssertionFailure() << "waited " << bound.count() << " s for " << what;
            if (seen) failure << "; last seen:\n" << seen();
            return failure;
        }
        std::this_thread::sleep_for(50ms);
    }
    return ::testing::AssertionSuccess();
}

inline const std::string kClientNs = "tarvo-sim-c";

inline bool pings(const std::string& address) {
    return run_quietly("ip netns exec " + kClientNs + " ping -c 1 -W 1 " + address);
}

inline std::string client_links() { return output_of("ip -n " + kClientNs + " -o link show"); }

inline bool has_tunnel_interface() { return contains(client_links(), "tarvo-client"); }

// A part of a screenshot, in pixels.
struct Box {
    int x = 0, y = 0, w = 0, h = 0;
    int centre_x() const { return x + w / 2; }
    int centre_y() const { return y + h / 2; }
    std::string geometry() const {
        return std::to_string(w) + "x" + std::to_string(h) + "+" + std::to_string(x) + "+" +
               std::to_string(y);
    }
};

// How many pixels of the screenshot have exactly this colour ("R,G,B").
inline long pixels_of(const std::filesystem::path& png, const std::string& rgb) {
    const std::string histogram = output_of("convert " + png.string() + " -format %c histogram:info:-");
    std::istringstream lines(histogram);
    for (std::string line; std::getline(lines, line);)
        if (contains(line, "(" + rgb + ")")) return std::stol(line.substr(0, line.find(':')));
    return 0;
}

// The same, within `box` only.
inline long pixels_in(const std::filesystem::path& png, const Box& box, const std::string& rgb) {
    const std::filesystem::path part = png.parent_path() / ("part-" + png.filename().string());
    if (!run_quietly("convert " + png.string() + " -crop " + box.geometry() + " +repage " + part.string()))
        return 0;
    return pixels_of(part, rgb);
}

// The bounding box of the pixels of exactly this colour within `crop` (the
// whole picture when empty), in the crop's own coordinates; nothing when
// they cover less than 10 x 4 pixels.
inline std::optional<Box> colour_box(const std::filesystem::path& png, const std::string& rgb,
                                     const std::string& crop = "") {
    const std::string cropped = crop.empty() ? "" : " -crop " + crop + " +repage";
    // "shot.png PNG 337x47 1280x900+649+274 ..."
    std::istringstream words(output_of("convert " + png.string() + cropped + " -fill black +opaque \"rgb(" +
                                       rgb + ")\" -trim info:-"));
    std::string name, kind, size, page;
    Box box;
    if (!(words >> name >> kind >> size >> page) || std::sscanf(size.c_str(), "%dx%d", &box.w, &box.h) != 2 ||
        std::sscanf(page.c_str(), "%*dx%*d+%d+%d", &box.x, &box.y) != 2 || box.w < 10 || box.h < 4)
        return std::nullopt;
    return box;
}

// The pixels of a part of the picture as a digest: equal for equal pixels.
inline std::string pixels_digest(const std::filesystem::path& png, const Box& box) {
    return output_of("convert " + png.string() + " -crop " + box.geometry() + " +repage -format %# info:");
}

// The launcher's Xvfb display, ":N".
inline std::string display_of(const std::string& launcher_out) {
    const std::size_t at = launcher_out.find("no display: Xvfb ");
    if (at == std::string::npos) return {};
    return launcher_out.substr(at + 17, launcher_out.find(',', at) - at - 17);
}

// One launcher run in the background; its output goes to launcher.out in `out`.
class SimRun {
public:
    static std::optional<std::string> unavailable(bool window) {
        if (::geteuid() != 0) return "needs root to create network namespaces";
        std::vector<std::string> tools{"ip", "wireguard-go", "wg", "ping", "setsid", "setpriv", "python3"};
        if (window) tools.insert(tools.end(), {"Xvfb", "import", "convert", "xdotool"});
        for (const std::string& tool : tools)
            if (!run_quietly("command -v " + tool)) return tool + " is not installed";
        return std::nullopt;
    }

    // `client`: empty for the real program with its window under Xvfb, else a
    // program run in its place without a display. `run_for`: the launcher's
    // own bound, after which it ends by itself.
    SimRun(const std::string& scenario, const std::string& client,
           std::chrono::seconds run_for = patience(std::chrono::seconds(90))) {
        std::vector<std::string> argv{"bash",       std::string(TARVO_SOURCE_DIR) + "/sim/launch/run-sim",
                                      "--build",    TARVO_BUILD_DIR,
                                      "--out",      out_.path().string(),
                                      "--scenario", scenario,
                                      "--for",      std::to_string(run_for.count())};
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
    SimRun(const SimRun&) = delete;
    SimRun& operator=(const SimRun&) = delete;

    ::testing::AssertionResult printed(const std::string& line, std::chrono::seconds limit = 60s) const {
        return awaited(
            "the launcher to print \"" + line + "\"", [&] { return contains(launcher(), line); }, limit,
            [&] { return launcher(); });
    }
    // The client started. The launcher first waits as long as another run or
    // tunnel test holds the machine-wide lock, which can be minutes when
    // several test builds run at once: that wait has a bound of its own.
    ::testing::AssertionResult running_client() const {
        if (auto locked = printed("== scenario ", 600s); !locked) return locked;
        return printed("== running; Ctrl-C ends it");
    }

    ::testing::AssertionResult requested(const std::string& part, std::chrono::seconds limit = 30s) const {
        return awaited(
            "the orchestrator to record a request with " + part, [&] { return contains(requests(), part); },
            limit, [&] { return requests(); });
    }
    ::testing::AssertionResult logged(const std::string& part, std::chrono::seconds limit = 30s) const {
        return awaited(
            "the client to log \"" + part + "\"", [&] { return contains(client_log(), part); }, limit,
            [&] { return client_log(); });
    }
    static ::testing::AssertionResult tunnel_interface_gone() {
        return awaited(
            "tarvo-client to leave the client namespace", [] { return !has_tunnel_interface(); }, 30s,
            client_links);
    }

    // Screenshots of the window's display, taken one after another until one
    // shows what `drawn` looks for; `shot` is the last one taken.
    ::testing::AssertionResult shows(const std::string& what,
                                     const std::function<bool(const std::filesystem::path&)>& drawn,
                                     std::filesystem::path& shot, std::chrono::seconds limit = 30s) {
        return awaited(
            "a screenshot showing " + what, [&] { return screenshot(shot) && drawn(shot); }, limit,
            [&] { return shot.string() + " (the last one taken)"; });
    }
    // One screenshot of the window's display, into a new file `shot`.
    bool screenshot(std::filesystem::path& shot) {
        shot = out() / ("own-" + std::to_string(++screenshots_) + ".png");
        return run_quietly("import -display " + display() + " -window root " + shot.string());
    }

    // A click in the middle of `box` through the display. The window reads
    // where the pointer is on the frame after the release, which comes late on
    // a loaded machine, so the pointer stays on the button until the click
    // shows `effect`, then leaves the window so that no button shows its hover
    // colour.
    ::testing::AssertionResult click(const Box& box, const std::string& effect,
                                     const std::function<bool()>& took_effect,
                                     std::chrono::seconds limit = 30s) const {
        if (!press_and_release(box)) return ::testing::AssertionFailure() << "xdotool could not click";
        auto seen = awaited("a click to show " + effect, took_effect, limit);
        if (!run_quietly("DISPLAY=" + display() + " xdotool mousemove 5 5"))
            return ::testing::AssertionFailure() << "xdotool could not move the pointer away";
        return seen;
    }
    // A click meant to change nothing: the pointer stays on the button.
    bool click_expecting_nothing(const Box& box) const { return press_and_release(box); }

    std::string launcher() const { return file_text(out_.path() / "launcher.out"); }
    std::string requests() const { return file_text(out_.path() / "requests.log"); }
    std::string client_log() const { return file_text(out_.path() / "client.log"); }
    const std::filesystem::path& out() const { return out_.path(); }
    std::string display() const { return display_of(launcher()); }
    pid_t pid() const { return pid_; }

    void signal(int number) const {
        if (pid_ > 0) ::kill(pid_, number);
    }

    // The launcher's exit code once it ended by itself or after `number`;
    // -1 (and it is killed) when it did not end within the bound.
    int stop(int number = SIGINT) {
        if (pid_ <= 0) return status_;
        signal(number);
        return wait_for_end();
    }

    int wait_for_end() {
        if (pid_ <= 0) return status_;
        int status = 0;
        const bool ended = awaited(
            "the launcher to end", [&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, 120s);
        if (!ended) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            status_ = -1;
        } else {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        pid_ = -1;
        return status_;
    }

    // SIGKILL, as a crash would end it.
    void kill_hard() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    bool press_and_release(const Box& box) const {
        return run_quietly("DISPLAY=" + display() + " xdotool mousemove --sync " +
                           std::to_string(box.centre_x()) + " " + std::to_string(box.centre_y()) +
                           " click 1");
    }

    TempFolder out_;
    pid_t pid_ = -1;
    int status_ = -1;
    int screenshots_ = 0;
};

// Makes this process the one that inherits the launcher's orphans (while it
// lives), so that a process the launcher left running is found as a child here.
class OrphanCatcher {
public:
    OrphanCatcher() { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }
    ~OrphanCatcher() { ::prctl(PR_SET_CHILD_SUBREAPER, 0); }
    OrphanCatcher(const OrphanCatcher&) = delete;
    OrphanCatcher& operator=(const OrphanCatcher&) = delete;

    // "PID command line" of each child still running, once the ended ones are reaped.
    static std::vector<std::string> running() {
        while (::waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        std::vector<std::string> found;
        const std::string own = std::to_string(::getpid());
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            const std::string pid = entry.path().filename();
            if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
            const std::string stat = file_text(entry.path() / "stat");
            const std::size_t close = stat.rfind(')');
            if (close == std::string::npos) continue;
            std::istringstream fields(stat.substr(close + 2));
            std::string state, parent;
            fields >> state >> parent;
            if (parent != own || state == "Z") continue;
            std::string command = file_text(entry.path() / "cmdline");
            for (char& c : command)
                if (c == '\0') c = ' ';
            found.push_back(pid + " " + command);
        }
        return found;
    }
};

// "(host root /tmp/tarvo-sim-host.XXXXXX)" in the launcher's output.
inline std::string host_root_of(const std::string& launcher_out) {
    const std::size_t at = launcher_out.find("(host root ");
    if (at == std::string::npos) return {};
    return launcher_out.substr(at + 11, launcher_out.find(')', at) - at - 11);
}

// What an ended run left behind; nothing is what it must leave. Looked at
// while holding the machine-wide lock, so no other run is in the middle of
// making its own network; processes are found by `orphans`.
inline std::vector<std::string> leftovers(const std::string& launcher_out) {
    std::vector<std::string> found;
    const AdapterLock lock(kLabFolder, patience(120s));
    if (!lock.held()) found.push_back(lock.error());
    const std::string namespaces = output_of("ip netns list");
    for (const char* ns : {"tarvo-sim-c", "tarvo-sim-h", "tarvo-sim-lan"})
        if (contains(namespaces, ns)) found.push_back(std::string("namespace ") + ns);
    std::vector<std::string> paths{"/etc/netns/tarvo-sim-c", "/run/wireguard/tarvo-client.sock",
                                   "/run/wireguard/tarvo-sim-hub.sock",
                                   std::string(kLabFolder) + "/sim.state"};
    if (const std::string root = host_root_of(launcher_out); !root.empty()) paths.push_back(root);
    if (const std::string display = display_of(launcher_out); !display.empty())
        paths.push_back("/tmp/.X" + display.substr(1) + "-lock");
    for (const std::string& path : paths)
        if (std::filesystem::exists(std::filesystem::symlink_status(path))) found.push_back(path);
    for (const std::string& process : OrphanCatcher::running()) found.push_back("process " + process);
    return found;
}

}  // namespace tarvo::testing
