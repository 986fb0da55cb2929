// The whole client against the simulated SD-WAN, as scripts/run runs it
// (sim/launch/run-sim), asserted from outside the client: the orchestrator's
// recorded requests, pings from the client namespace, the window's
// screenshots, and that nothing of a run is left once it ends (root only).
// Every run is bounded by the launcher's own --for as well.
#include <fcntl.h>
#include <gtest/gtest.h>
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
#include <vector>

#include "support/helper_programs.h"
#include "support/temp_folder.h"
#include "support/wg_tunnel_lab.h"

namespace tarvo {
namespace {

using namespace std::chrono_literals;
using testing::output_of;
using testing::run_quietly;

const std::string kClientNs = "tarvo-sim-c";

std::string file_text(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool eventually(const std::function<bool()>& condition, std::chrono::seconds limit) {
    for (const auto until = std::chrono::steady_clock::now() + limit;
         std::chrono::steady_clock::now() < until;) {
        if (condition()) return true;
        std::this_thread::sleep_for(100ms);
    }
    return condition();
}

bool contains(const std::string& text, const std::string& part) {
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
    // program run in its place without a display.
    SimRun(const std::string& scenario, const std::string& client) {
        std::vector<std::string> argv{"bash",       std::string(TARVO_SOURCE_DIR) + "/sim/launch/run-sim",
                                      "--build",    TARVO_BUILD_DIR,
                                      "--out",      out_.path().string(),
                                      "--scenario", scenario,
                                      "--for",      "90"};
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
    testing::TempFolder out_;
    pid_t pid_ = -1;
    int status_ = -1;
};

bool pings(const std::string& address) {
    return run_quietly("ip netns exec " + kClientNs + " ping -c 1 -W 1 " + address);
}

bool has_tunnel_interface() {
    return contains(output_of("ip -n " + kClientNs + " -o link show"), "tarvo-client");
}

// "(host root /tmp/tarvo-sim-host.XXXXXX)" in the launcher's output.
std::string host_root_of(const std::string& launcher_out) {
    const std::size_t at = launcher_out.find("(host root ");
    if (at == std::string::npos) return {};
    return launcher_out.substr(at + 11, launcher_out.find(')', at) - at - 11);
}

// What the launcher must leave behind: nothing.
std::vector<std::string> leftovers(const std::string& launcher_out) {
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
long pixels_of(const std::filesystem::path& png, const std::string& rgb) {
    const std::string histogram = output_of("convert " + png.string() + " -format %c histogram:info:-");
    std::istringstream lines(histogram);
    for (std::string line; std::getline(lines, line);)
        if (contains(line, "(" + rgb + ")")) return std::stol(line.substr(0, line.find(':')));
    return 0;
}

// The centre of the pixels of exactly this colour, or nothing.
std::optional<std::pair<int, int>> centre_of(const std::filesystem::path& png, const std::string& rgb) {
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
std::string display_of(const std::string& launcher_out) {
    const std::size_t at = launcher_out.find("no display: Xvfb ");
    if (at == std::string::npos) return {};
    return launcher_out.substr(at + 17, launcher_out.find(',', at) - at - 17);
}

class SimRunTest : public ::testing::Test {
protected:
    void start(bool window, const std::string& scenario) {
        if (const auto why = SimRun::unavailable(window)) GTEST_SKIP() << *why;
        run = std::make_unique<SimRun>(scenario, window ? "" : testing::helper_program("headless_client"));
        ASSERT_TRUE(run->running_client()) << run->launcher();
    }

    void stop_and_expect_nothing_left() {
        EXPECT_EQ(run->stop(), 0) << run->launcher();
        EXPECT_EQ(leftovers(run->launcher()), std::vector<std::string>{});
    }

    std::unique_ptr<SimRun> run;
};

TEST_F(SimRunTest, TheDefaultScenarioConnectsByItselfStopsWhenPausedAndPowersOffOnAClick) {
    start(true, "l3-l2");
    if (IsSkipped()) return;
    // The worker's auto-connect sync, then the power-on's report of the running tunnel.
    EXPECT_TRUE(eventually(
        [&] { return contains(run->requests(), "code=L2DEMOKEY001&power_on=1&force_l3=0&wg_running=0"); },
        15s))
        << run->requests();
    EXPECT_TRUE(
        eventually([&] { return contains(run->requests(), "power_on=1&force_l3=0&wg_running=1"); }, 15s))
        << run->requests() << run->client_log();
    EXPECT_TRUE(pings("10.200.0.1")) << "layer 3: the hub's tunnel address";
    EXPECT_TRUE(
        contains(run->client_log(), "[success] Handshake WireGuard potwierdzony (Ping 10.200.0.1 OK)"));
    // Layer 2: the client's TAP, EoIP over the tunnel, the hub's TAP, the host behind it.
    EXPECT_TRUE(eventually([&] { return pings("203.0.113.20"); }, 15s)) << run->client_log();
    EXPECT_TRUE(contains(run->requests(), "wg_running=1&l2_running=1"));

    // A screenshot of the connected window: the power-off button is filled red.
    const auto shot = run->out() / "screenshots" / "shot-002.png";
    ASSERT_TRUE(eventually(
        [&] { return std::filesystem::exists(shot) && std::filesystem::file_size(shot) > 0; }, 20s))
        << run->launcher();
    std::this_thread::sleep_for(500ms);  // written whole
    EXPECT_GT(pixels_of(shot, "153,27,27"), 5000) << shot;
    EXPECT_GT(pixels_of(shot, "16,185,129"), 5000) << shot;
    const auto power_off_button = centre_of(shot, "153,27,27");
    ASSERT_TRUE(power_off_button) << shot;

    // After 20 s the project is paused: the worker stops the tunnel.
    EXPECT_TRUE(eventually(
        [&] { return contains(run->client_log(), "brak zgody na tunel (Projekt wstrzymany"); }, 30s))
        << run->client_log();
    EXPECT_TRUE(eventually([&] { return !has_tunnel_interface(); }, 10s));
    EXPECT_FALSE(pings("10.200.0.1"));
    EXPECT_FALSE(pings("203.0.113.20"));

    // The power stays on until "btn_power_off" is clicked in the real window.
    EXPECT_TRUE(run_quietly("DISPLAY=" + display_of(run->launcher()) + " xdotool mousemove " +
                            std::to_string(power_off_button->first) + " " +
                            std::to_string(power_off_button->second) + " sleep 0.2 click 1"));
    EXPECT_TRUE(eventually([&] { return contains(run->client_log(), "Tunel SD-WAN został wyłączony"); }, 10s))
        << run->client_log();
    EXPECT_TRUE(eventually([&] { return contains(run->requests(), "power_on=0&"); }, 10s)) << run->requests();
    EXPECT_FALSE(has_tunnel_interface());
    EXPECT_TRUE(testing::processes_in(kClientNs, "wireguard-go", "tarvo-client").empty());
    stop_and_expect_nothing_left();
}

TEST_F(SimRunTest, ANewLinkInTheAnswerReloadsTheTunnelWithItsRoute) {
    start(false, "l3");
    if (IsSkipped()) return;
    EXPECT_TRUE(eventually([&] { return pings("10.200.0.1"); }, 15s)) << run->client_log();
    EXPECT_FALSE(contains(output_of("ip -n " + kClientNs + " route show 10.254.60.0/24"), "tarvo-client"));
    // After 12 s the answer has a second L3 link.
    EXPECT_TRUE(
        eventually([&] { return contains(run->client_log(), "wykryto zmianę topologii projektu"); }, 30s))
        << run->client_log();
    EXPECT_TRUE(eventually(
        [&] {
            return contains(output_of("ip -n " + kClientNs + " route show 10.254.60.0/24"),
                            "dev tarvo-client");
        },
        10s));
    EXPECT_TRUE(eventually([&] { return pings("10.200.0.1"); }, 10s));
    stop_and_expect_nothing_left();
}

TEST_F(SimRunTest, APausedProjectsTunnelComesUpByItselfOnceTheProjectRuns) {
    start(false, "paused");
    if (IsSkipped()) return;
    EXPECT_TRUE(eventually([&] { return contains(run->requests(), "code=PAUSEDKEY001&power_on=1"); }, 15s));
    EXPECT_FALSE(has_tunnel_interface());
    // After 15 s the project runs: the worker's poll brings the tunnel up.
    EXPECT_TRUE(eventually([&] { return pings("10.200.0.1"); }, 30s)) << run->client_log();
    EXPECT_TRUE(contains(run->client_log(), "wykryto zmianę topologii projektu"));
    stop_and_expect_nothing_left();
}

TEST_F(SimRunTest, AnExpiredPassIsRefusedAndNothingIsBroughtUp) {
    start(true, "pass-expired");
    if (IsSkipped()) return;
    EXPECT_TRUE(eventually(
        [&] { return contains(run->client_log(), "[error] Odmowa zestawienia tunelu dla 'Serwis-Stary'"); },
        15s))
        << run->client_log();
    EXPECT_TRUE(contains(run->requests(), "code=PASS-2H-OLDPASS1&power_on=1"));
    // A worker cycle later still nothing runs.
    std::this_thread::sleep_for(3s);
    EXPECT_FALSE(contains(run->requests(), "wg_running=1"));
    EXPECT_FALSE(has_tunnel_interface());
    EXPECT_FALSE(pings("10.200.0.1"));
    // On screen: no power-off button filled red, the tunnel card in amber standby.
    const auto shot = run->out() / "screenshots" / "shot-001.png";
    ASSERT_TRUE(eventually(
        [&] { return std::filesystem::exists(shot) && std::filesystem::file_size(shot) > 0; }, 20s))
        << run->launcher();
    std::this_thread::sleep_for(500ms);  // written whole
    EXPECT_LT(pixels_of(shot, "153,27,27"), 100) << shot;
    EXPECT_GT(pixels_of(shot, "245,158,11"), 50) << shot;
    stop_and_expect_nothing_left();
}

TEST_F(SimRunTest, AnUnreachableOrchestratorBringsNothingUp) {
    start(false, "unreachable");
    if (IsSkipped()) return;
    EXPECT_TRUE(eventually([&] { return contains(run->client_log(), "[error] "); }, 20s))
        << run->client_log();
    EXPECT_EQ(run->requests(), "");
    EXPECT_FALSE(has_tunnel_interface());
    stop_and_expect_nothing_left();
}

TEST_F(SimRunTest, ARunAfterAKilledOneRemovesItsLeftoversFirst) {
    start(false, "l3");
    if (IsSkipped()) return;
    ASSERT_TRUE(eventually([&] { return has_tunnel_interface(); }, 15s)) << run->client_log();
    const std::string killed_out = run->launcher();
    run->kill_hard();
    ASSERT_NE(leftovers(killed_out), std::vector<std::string>{}) << "a killed run leaves its network";

    start(false, "l3");
    EXPECT_FALSE(std::filesystem::exists(host_root_of(killed_out))) << "the killed run's host root";
    EXPECT_TRUE(eventually([&] { return pings("10.200.0.1"); }, 15s)) << run->client_log();
    stop_and_expect_nothing_left();
}

}  // namespace
}  // namespace tarvo
