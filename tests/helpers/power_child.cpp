// Runs the client's worker with an auto-connect power-on through the real
// tunnel mechanisms, against a test orchestrator of its own on this
// namespace's loopback, so a test can run it inside a client namespace
// (ip netns exec) with TARVO_NETNS set.
//   power_child <private key> <hub key> <hub endpoint> <wg_ip> <hub's subnet> <hub_wg_ip>
// The worker sleeps between cycles until told to run one. Lines on stdin:
//   "asleep"        -> "asleep" once the worker sleeps (its start is done)
//   "scenario NAME" -> "ok": the orchestrator answers "l3", "l3-more" or "paused"
//   "cycle"         -> "cycled" after one worker cycle
//   "power-off"     -> "off" after a power-off thread has ended
//   "state"         -> "state power_on=B wg_running=B l2_running=B adapter=B bridge=B threads=N"
//   "log"           -> "log LEVEL TEXT" per entry, then "end"
#include <stdlib.h>

#include <condition_variable>
#include <dirent.h>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include "main/power.h"
#include "main/worker.h"
#include "test_orchestrator.h"

namespace {

using namespace tarvo;

constexpr const char* kKey = "ABCD1234EFGH";

// Real time; each sleep between cycles lasts until the test asks for a cycle.
class GatedClock final : public TunnelClock {
public:
    std::chrono::steady_clock::time_point now() override { return std::chrono::steady_clock::now(); }
    void sleep_for(std::chrono::steady_clock::duration) override {
        std::unique_lock<std::mutex> lock(mutex_);
        ++sleeps_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return permits_ > 0; });
        --permits_;
    }
    void wait_asleep() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return sleeps_ > 0 && permits_ == 0; });
    }
    void run_one_cycle() {
        std::unique_lock<std::mutex> lock(mutex_);
        const long before = sleeps_;
        ++permits_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return sleeps_ > before; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    long sleeps_ = 0;
    int permits_ = 0;
};

struct Inputs {
    std::string private_key, hub_key, endpoint, wg_ip, hub_subnet, hub_wg_ip;
};

std::string answer(const Inputs& in, const std::string& name) {
    const bool paused = name == "paused";
    std::string links;
    if (!paused) {
        links = R"({"id": 5, "source_id": 17, "target_id": 2, "mode": "L3", "src_subnet": "192.168.77.0/24", "dst_subnet": ")" +
                in.hub_subnet + R"("})";
        if (name == "l3-more")
            links += R"(, {"id": 8, "source_id": 17, "target_id": 3, "mode": "L3", "src_subnet": "192.168.77.0/24", "dst_subnet": "10.60.0.0/24"})";
    }
    return R"({"node_id": 17, "name": "Laptop-7", "node_type": "desktop", "wg_ip": ")" + in.wg_ip +
           R"(", "local_subnet": "192.168.77.0/24", "private_key": ")" + in.private_key +
           R"(", "project_enabled": )" + (paused ? "false" : "true") +
           R"(, "owner_active": true, "allow_orchestrator": true, "hub": {"endpoint": ")" + in.endpoint +
           R"(", "server_public_key": ")" + in.hub_key + R"(", "hub_wg_ip": ")" + in.hub_wg_ip +
           R"("}, "links": [)" + links + "]}";
}

sim::Scenario scenario(const Inputs& in, const std::string& name) {
    sim::Scenario s;
    s.status = {200, "{}"};
    s.sync[kKey] = {200, answer(in, name)};
    return s;
}

int thread_count() {
    int count = 0;
    if (DIR* tasks = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(tasks))
            if (entry->d_name[0] != '.') ++count;
        ::closedir(tasks);
    }
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 7) {
        std::cerr << "usage: power_child <private key> <hub key> <endpoint> <wg_ip> <hub subnet> <hub_wg_ip>\n";
        return 2;
    }
    const Inputs in{argv[1], argv[2], argv[3], argv[4], argv[5], argv[6]};
    ::unsetenv("APPDATA");
    auto orchestrator = sim::TestOrchestrator::start(scenario(in, "l3"));
    if (!orchestrator) {
        std::cout << "failed " << orchestrator.error() << std::endl;
        return 1;
    }

    GatedClock clock;
    ClientConfig config;
    config.DeviceCode = kKey;
    TunnelContext context;
    context.endpoint = (*orchestrator)->endpoint();
    context.clock = &clock;
    context.shared = create_shared_state(config);
    std::cout << "threads " << thread_count() << std::endl;
    std::thread(worker_loop, context, true).detach();

    for (std::string command; std::getline(std::cin, command);) {
        if (command == "asleep") {
            clock.wait_asleep();
            std::cout << "asleep" << std::endl;
        } else if (command.rfind("scenario ", 0) == 0) {
            (*orchestrator)->set_scenario(scenario(in, command.substr(9)));
            std::cout << "ok" << std::endl;
        } else if (command == "cycle") {
            clock.run_one_cycle();
            std::cout << "cycled" << std::endl;
        } else if (command == "power-off") {
            std::thread(power_off, context).join();
            std::cout << "off" << std::endl;
        } else if (command == "state") {
            auto state = context.shared->lock();
            std::cout << "state power_on=" << state->power_on << " wg_running=" << state->wg_running
                      << " l2_running=" << state->l2_running << " adapter=" << (state->wg.adapter != nullptr)
                      << " bridge=" << state->bridge.running->load() << " threads=" << thread_count() << std::endl;
        } else if (command == "log") {
            auto state = context.shared->lock();
            for (const auto& entry : state->log)
                std::cout << "log " << static_cast<int>(entry.level) << " " << entry.text << "\n";
            std::cout << "end" << std::endl;
        }
    }
    // The worker never ends; the process does, without unwinding it.
    std::cout.flush();
    std::_Exit(0);
}
