// Runs the test orchestrator as a process for the simulated network:
//   tarvo_sim_orchestrator [--host NAME] [--port N] [--sync CODE=FILE]...
//                          [--scenario FILE [--define NAME=VALUE]...] [--request-log FILE]
//   tarvo_sim_orchestrator --describe FILE
// Each --sync answers that code with the file's bytes (status 200); other
// codes get 403. A --scenario file (sim/scenarios) instead gives timed phases:
// each phase's answers replace the last at its time. Every request, and every
// change of phase, is appended to the request log as one line starting with
// the local time. Prints the base URL and the CA file, then serves until
// SIGINT or SIGTERM. --describe prints what a scenario file holds and exits.
#include <signal.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>

#include "scenario_file.h"
#include "test_orchestrator.h"

namespace {

using namespace tarvo::sim;
using Clock = std::chrono::steady_clock;

std::string file_text(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

std::string local_time() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char text[16] = {};
    if (localtime_r(&now, &local)) std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

// Lines appended to a file, one writer at a time, each flushed at once.
class RequestLog {
public:
    bool open(const std::string& path) {
        file_.open(path, std::ios::app);
        return file_.is_open();
    }
    void line(const std::string& text) {
        std::lock_guard<std::mutex> hold(mutex_);
        if (file_.is_open()) file_ << local_time() << " " << text << std::endl;
    }

private:
    std::mutex mutex_;
    std::ofstream file_;
};

int describe(const std::string& path) {
    const auto file = read_scenario_file(
        file_text(path), {{"CLIENT_PRIVATE_KEY", ""}, {"HUB_PUBLIC_KEY", ""}, {"HUB_ENDPOINT", ""}});
    if (!file) {
        std::cerr << path << ": " << file.error() << "\n";
        return 1;
    }
    std::cout << "code=" << file->code << "\nreachable=" << (file->reachable ? 1 : 0)
              << "\ndescription=" << file->description << "\n";
    for (const ScenarioPhase& phase : file->phases)
        std::cout << "phase=" << phase.after.count() << " " << phase.note << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Scenario scenario;
    scenario.status = {200, R"({"status":"ok"})"};
    std::string host = TestOrchestrator::default_host;
    int port = 0;
    std::optional<std::string> scenario_path;
    std::map<std::string, std::string> defines;
    RequestLog log;
    if (argc % 2 == 0) {
        std::cerr << "every option takes one value\n";
        return 2;
    }
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const std::string value = argv[i + 1];
        const std::size_t eq = value.find('=');
        if (option == "--describe") {
            return describe(value);
        } else if (option == "--host") {
            host = value;
        } else if (option == "--port") {
            port = std::stoi(value);
        } else if (option == "--sync" && eq != std::string::npos) {
            scenario.sync[value.substr(0, eq)] = {200, file_text(value.substr(eq + 1))};
        } else if (option == "--scenario") {
            scenario_path = value;
        } else if (option == "--define" && eq != std::string::npos) {
            defines[value.substr(0, eq)] = value.substr(eq + 1);
        } else if (option == "--request-log") {
            if (!log.open(value)) {
                std::cerr << "cannot write the request log " << value << "\n";
                return 2;
            }
        } else {
            std::cerr << "unknown option " << option << "\n";
            return 2;
        }
    }

    ScenarioFile timed;
    if (scenario_path) {
        auto read = read_scenario_file(file_text(*scenario_path), defines);
        if (!read || !read->reachable) {
            std::cerr << *scenario_path << ": "
                      << (read ? "the orchestrator is unreachable in it" : read.error()) << "\n";
            return 2;
        }
        timed = std::move(*read);
        scenario = timed.phases.front().scenario;
    }

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // before any server thread starts

    auto orchestrator = TestOrchestrator::start(std::move(scenario), host, port);
    if (!orchestrator) {
        std::cerr << orchestrator.error() << "\n";
        return 1;
    }
    (*orchestrator)->on_request([&log](const RecordedRequest& r) { log.line(r.method + " " + r.target); });
    const auto started = Clock::now();
    if (!timed.phases.empty()) log.line("phase 0 s: " + timed.phases.front().note);
    std::cout << "base_url=" << (*orchestrator)->base_url() << "\n"
              << "ca_bundle=" << (*orchestrator)->ca_bundle_path() << std::endl;

    // Serve, switching phases at their times, until a signal ends it.
    for (std::size_t next = 1;; ++next) {
        if (next >= timed.phases.size()) {
            int received = 0;
            sigwait(&signals, &received);
            return 0;
        }
        const auto at = started + timed.phases[next].after;
        while (Clock::now() < at) {
            const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(at - Clock::now());
            if (left.count() <= 0) break;
            const timespec wait{static_cast<time_t>(left.count() / 1'000'000'000),
                                static_cast<long>(left.count() % 1'000'000'000)};
            if (sigtimedwait(&signals, nullptr, &wait) > 0) return 0;
        }
        (*orchestrator)->set_scenario(timed.phases[next].scenario);
        log.line("phase " + std::to_string(timed.phases[next].after.count()) +
                 " s: " + timed.phases[next].note);
    }
}
