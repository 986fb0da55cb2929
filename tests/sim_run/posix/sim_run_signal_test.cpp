// Ctrl-C (SIGINT) or SIGTERM at any moment of a launcher run ends it cleanly:
// exit code 0 and nothing left behind, whether the signal comes while the run
// waits for the lock, sets up, runs or tears down (root only). Each moment is
// a line the launcher prints (awaited) plus an offset that spreads the
// signals over what it does next.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim_run/posix/sim_run.h"
#include "support/helper_programs.h"

namespace tarvo {
namespace {

using namespace std::chrono_literals;
using testing::contains;
using testing::SimRun;

struct Moment {
    const char* name;
    const char* after;  // the launcher's line the moment is counted from
    int offset_ms;
    int signal;
    // The run ends by itself after 1 s (--for), so the signal comes while it
    // tears down; otherwise the signal is what ends it.
    bool ends_by_itself = false;
    int second_signal = 0;    // sent once the teardown has begun
    bool lock_taken = false;  // another holder keeps the lock meanwhile
    bool window = false;      // the real client under Xvfb
};

constexpr const char* kScenario = "== scenario ";
constexpr const char* kHub = "== hub: ";
constexpr const char* kOrchestrator = "== orchestrator: ";
constexpr const char* kXvfb = "== no display: Xvfb ";
constexpr const char* kClient = "== running in ";
constexpr const char* kRunning = "== running; Ctrl-C ends it";
constexpr const char* kTearingDown = "== tearing down";
constexpr const char* kRemoved = "== everything the run made is removed";
constexpr const char* kWaiting = "== waiting for another";

// The last "== " line: where the run was when the signal went.
std::string last_note(const std::string& launcher_out) {
    const std::size_t at = launcher_out.rfind("\n== ");
    if (at == std::string::npos) return launcher_out.substr(0, launcher_out.find('\n'));
    return launcher_out.substr(at + 1, launcher_out.find('\n', at + 1) - at - 1);
}

void PrintTo(const Moment& moment, std::ostream* out) { *out << moment.name; }

class SignalAtAnyMoment : public ::testing::TestWithParam<Moment> {
protected:
    testing::OrphanCatcher orphans;
};

TEST_P(SignalAtAnyMoment, EndsTheRunWithExitCodeZeroAndLeavesNothing) {
    const Moment& moment = GetParam();
    if (const auto why = SimRun::unavailable(moment.window)) GTEST_SKIP() << *why;
    std::optional<testing::AdapterLock> other_holder;
    if (moment.lock_taken) {
        other_holder.emplace();
        ASSERT_TRUE(other_holder->held()) << other_holder->error();
    }
    SimRun run(moment.window ? "l3-l2" : "l3",
               moment.window ? "" : testing::helper_program("headless_client"),
               moment.ends_by_itself ? 1s : testing::patience(90s));
    ASSERT_TRUE(run.printed(moment.after));
    std::this_thread::sleep_for(std::chrono::milliseconds(moment.offset_ms));  // the spread, not a wait
    const std::string then = last_note(run.launcher());
    run.signal(moment.signal);
    if (moment.second_signal) {
        EXPECT_TRUE(run.printed(kTearingDown));
        run.signal(moment.second_signal);
    }
    const int code = run.wait_for_end();
    other_holder.reset();
    std::cout << "signal " << moment.signal << " " << moment.offset_ms << " ms after \"" << moment.after
              << "\", last line then: " << then << "\n";

    EXPECT_EQ(code, 0) << run.launcher();
    EXPECT_EQ(testing::leftovers(run.launcher()), std::vector<std::string>{}) << run.launcher();
    if (contains(run.launcher(), kScenario)) {
        EXPECT_TRUE(contains(run.launcher(), kRemoved)) << run.launcher();
    }
    EXPECT_FALSE(contains(run.launcher(), "run-sim:")) << "no complaint: " << run.launcher();
}

const Moment kMoments[] = {
    // Waiting for the lock: nothing is made.
    {"WaitingForTheLock_Int", kWaiting, 0, SIGINT, false, 0, true},
    {"WaitingForTheLock_Term150ms", kWaiting, 150, SIGTERM, false, 0, true},
    // Set-up: removing a killed run's leftovers, making the namespaces and
    // links, starting the hub, the orchestrator and the client.
    {"SetUp_Scenario_Int", kScenario, 0, SIGINT},
    {"SetUp_Scenario_Term20ms", kScenario, 20, SIGTERM},
    {"SetUp_Scenario_Int60ms", kScenario, 60, SIGINT},
    {"SetUp_Scenario_Term130ms", kScenario, 130, SIGTERM},
    {"SetUp_Scenario_Int250ms", kScenario, 250, SIGINT},
    {"SetUp_Scenario_Term450ms", kScenario, 450, SIGTERM},
    {"SetUp_Scenario_Int800ms", kScenario, 800, SIGINT},
    {"SetUp_Hub_Term", kHub, 0, SIGTERM},
    {"SetUp_Hub_Int40ms", kHub, 40, SIGINT},
    {"SetUp_Orchestrator_Int", kOrchestrator, 0, SIGINT},
    {"SetUp_Orchestrator_Term50ms", kOrchestrator, 50, SIGTERM},
    {"SetUp_Client_Term", kClient, 0, SIGTERM},
    {"SetUp_Client_Int15ms", kClient, 15, SIGINT},
    // Running: between ticks, and around the pings of the third second.
    {"Running_Int", kRunning, 0, SIGINT},
    {"Running_Term300ms", kRunning, 300, SIGTERM},
    {"Running_Int1200ms", kRunning, 1200, SIGINT},
    {"Running_Term3000ms", kRunning, 3000, SIGTERM},
    {"Running_Int3100ms", kRunning, 3100, SIGINT},
    // Teardown of a run that ended by itself.
    {"Teardown_Int", kTearingDown, 0, SIGINT, true},
    {"Teardown_Term30ms", kTearingDown, 30, SIGTERM, true},
    {"Teardown_Int150ms", kTearingDown, 150, SIGINT, true},
    {"Teardown_Term400ms", kTearingDown, 400, SIGTERM, true},
    {"Teardown_Int900ms", kTearingDown, 900, SIGINT, true},
    {"Teardown_Done_Term", kRemoved, 0, SIGTERM, true},
    // A second signal while the first one's teardown runs.
    {"Running_Int_ThenTermInTeardown", kRunning, 300, SIGINT, false, SIGTERM},
    {"Running_Term_ThenIntInTeardown", kRunning, 600, SIGTERM, false, SIGINT},
    // The real client with its window under Xvfb.
    {"Window_SetUp_Xvfb_Int", kXvfb, 0, SIGINT, false, 0, false, true},
    {"Window_Running_Term500ms", kRunning, 500, SIGTERM, false, 0, false, true},
    {"Window_Teardown_Int100ms", kTearingDown, 100, SIGINT, true, 0, false, true},
};

// The moment right after a run has ended, while the supervisor itself ends,
// is narrow: many tries at it with a run that ends at once.
TEST(LauncherSupervisor, ASignalWhileItEndsStillLeavesExitCodeZero) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, for the lock in root's folder";
    // The system's Python, as run-sim starts it.
    const std::string python = std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    for (int attempt = 0; attempt < 30; ++attempt) {
        testing::PipedChild supervisor;
        ASSERT_TRUE(supervisor.start({python, std::string(TARVO_SOURCE_DIR) + "/sim/launch/supervise.py",
                                      "bash", "-c", "echo ended"}));
        std::optional<std::string> line = supervisor.read_line();
        // Another run or tunnel test may hold the machine-wide lock for minutes.
        if (line && line->starts_with("== waiting for another")) line = supervisor.read_line(10min);
        ASSERT_EQ(line, "ended");
        std::this_thread::sleep_for(std::chrono::microseconds(attempt * 300));  // the spread
        ::kill(supervisor.pid(), SIGTERM);
        int status = 0;
        ASSERT_EQ(::waitpid(supervisor.pid(), &status, 0), supervisor.pid());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "attempt " << attempt << ": status " << status;
        if (HasFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(Launcher, SignalAtAnyMoment, ::testing::ValuesIn(kMoments),
                         [](const ::testing::TestParamInfo<Moment>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace tarvo
