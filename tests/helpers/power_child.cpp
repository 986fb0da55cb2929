// Runs the client's worker with an auto-connect power-on through the real
// tunnel mechanisms, against a test orchestrator of its own on this
// namespace's loopback, so a test can run it inside a client namespace
// (ip netns exec) with TARVO_NETNS set.
//   power_child <private key> <hub key> <hub endpoint> <wg_ip> <hub's subnet> <hub_wg_ip> [first scenario]
// The worker sleeps between cycles until told to run one. Lines on stdin:
//   "asleep"        -> "asleep" once the worker sleeps (its start is done)
//   "scenario NAME" -> "ok": the orchestrator answers "l3", "l3-more", "l2" or
//                      "paused" (the first answer is "l3" unless named)
//   "cycle"         -> "cycled" after one worker cycle
//   "power-off"     -> "off" after a power-off thread has ended
//   "state"         -> "state power_on=B wg_running=B l2_running=B adapter=B bridge=B threads=N"
//   "log"           -> "log LEVEL TEXT" per entry, then "end"
//   "storm SEED N"  -> "storm checked=C violations=V [first=TEXT]" after two
//                      actors made N random choices each (clicks and scenario
//                      changes) with the worker running freely, and a last power-off
#include <dirent.h>
#include <net/if.h>
#include <stdlib.h>

#include <condition_variable>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "main/power.h"
#include "main/worker.h"
#include "support/power_requests.h"
#include "support/power_storm.h"
#include "support/wg_tunnel_lab.h"
#include "test_orchestrator.h"

namespace {

using namespace tarvo;

constexpr const char* kKey = "ABCD1234EFGH";

// Real time; each sleep between cycles lasts until the test asks for a
// cycle, or a moment while the worker runs freely (during a storm).
class GatedClock final : public TunnelClock {
public:
    std::chrono::steady_clock::time_point now() override { return std::chrono::steady_clock::now(); }
    void sleep_for(std::chrono::steady_clock::duration) override {
        std::unique_lock<std::mutex> lock(mutex_);
        if (free_) {
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            return;
        }
        ++gated_sleeps_;
        waiting_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return permits_ > 0 || free_; });
        waiting_ = false;
        if (permits_ > 0) --permits_;
    }
    void wait_asleep() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return waiting_ && permits_ == 0; });
    }
    void run_one_cycle() {
        std::unique_lock<std::mutex> lock(mutex_);
        const long before = gated_sleeps_;
        ++permits_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return gated_sleeps_ > before; });
    }
    void run_freely(bool free) {
        std::lock_guard<std::mutex> lock(mutex_);
        free_ = free;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    long gated_sleeps_ = 0;
    int permits_ = 0;
    bool waiting_ = false;
    bool free_ = false;
};

// What the stand-in storm's completed power-offs left behind.
class LeftoverCheck {
public:
    void after_repaint(SharedState& shared) {
        if (!testing::on_power_off_thread) return;
        std::vector<std::string> found;
        {
            auto state = shared.lock();
            if (!testing::power_off_completed(*state)) return;
            found = testing::power_off_leftovers(*state);
        }
        if (::if_nametoindex("tarvo-client") != 0)
            found.push_back("interface tarvo-client after a power-off");
        if (const char* ns = std::getenv("TARVO_NETNS");
            ns && !testing::processes_in(ns, "wireguard-go", "tarvo-client").empty())
            found.push_back("wireguard-go after a power-off");
        std::lock_guard<std::mutex> hold(mutex_);
        ++checked_;
        for (auto& f : found) violations_.push_back(std::move(f));
    }
    std::string report() {
        std::lock_guard<std::mutex> hold(mutex_);
        return "storm checked=" + std::to_string(checked_) +
               " violations=" + std::to_string(violations_.size()) +
               (violations_.empty() ? "" : " first=" + violations_.front());
    }

private:
    std::mutex mutex_;
    int checked_ = 0;
    std::vector<std::string> violations_;
};

struct Inputs {
    std::string private_key, hub_key, endpoint, wg_ip, hub_subnet, hub_wg_ip;
};

std::string answer(const Inputs& in, const std::string& name) {
    const bool paused = name == "paused";
    std::string links;
    if (!paused) {
        links =
            R"({"id": 5, "source_id": 17, "target_id": 2, "mode": "L3", "src_subnet": "192.168.77.0/24", "dst_subnet": ")" +
            in.hub_subnet + R"("})";
        if (name == "l3-more")
            links +=
                R"(, {"id": 8, "source_id": 17, "target_id": 3, "mode": "L3", "src_subnet": "192.168.77.0/24", "dst_subnet": "10.60.0.0/24"})";
        // The bridge's hub is the hub's tunnel address, reached through WireGuard.
        if (name == "l2")
            links +=
                R"(, {"id": 9, "source_id": 17, "target_id": 2, "mode": "L2", "src_subnet": "192.168.77.0/24", "dst_subnet": ")" +
                std::string(testing::kBridgeSubnet) + R"(", "tunnel_id": )" +
                std::to_string(testing::kBridgeTunnelId) + R"(, "hub_ip": ")" + in.hub_wg_ip +
                R"(", "tap_ip": ")" + testing::kBridgeTapAddress + R"("})";
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
    if (argc != 7 && argc != 8) {
        std::cerr << "usage: power_child <private key> <hub key> <endpoint> <wg_ip> <hub subnet> <hub_wg_ip> "
                     "[scenario]\n";
        return 2;
    }
    const Inputs in{argv[1], argv[2], argv[3], argv[4], argv[5], argv[6]};
    ::unsetenv("APPDATA");
    auto orchestrator = sim::TestOrchestrator::start(scenario(in, argc == 8 ? argv[7] : "l3"));
    if (!orchestrator) {
        std::cout << "failed " << orchestrator.error() << std::endl;
        return 1;
    }

    GatedClock clock;
    ClientConfig config;
    config.DeviceCode = kKey;
    LeftoverCheck leftovers;
    TunnelContext context;
    context.endpoint = (*orchestrator)->endpoint();
    context.clock = &clock;
    context.shared = create_shared_state(config);
    context.request_repaint = [&leftovers, shared = context.shared.get()] {
        leftovers.after_repaint(*shared);
    };
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
            std::thread([&context] { testing::power_off_now(context); }).join();
            std::cout << "off" << std::endl;
        } else if (command == "state") {
            auto state = context.shared->lock();
            std::cout << "state power_on=" << state->power_on << " wg_running=" << state->wg_running
                      << " l2_running=" << state->l2_running << " adapter=" << (state->wg.adapter != nullptr)
                      << " bridge=" << state->bridge.running->load() << " threads=" << thread_count()
                      << std::endl;
        } else if (command.rfind("storm ", 0) == 0) {
            std::istringstream words(command.substr(6));
            std::uint64_t seed = 0;
            int actions = 0;
            words >> seed >> actions;
            const std::vector<std::string> names = {"l3", "l3-more", "paused"};
            clock.run_freely(true);
            {
                testing::PowerStorm storm(context);
                storm.run(
                    seed, 2, actions, 2, std::chrono::steady_clock::now() + std::chrono::seconds(20),
                    [&](std::mt19937_64& rng) {
                        switch (rng() % 4) {
                            case 0: storm.click_power_on(); break;
                            case 1: storm.click_power_off(); break;
                            case 2: storm.toggle_mode(); break;
                            default: (*orchestrator)->set_scenario(scenario(in, names[rng() % names.size()]));
                        }
                        std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 300));
                    });
            }
            clock.run_freely(false);
            clock.wait_asleep();
            std::cout << leftovers.report() << std::endl;
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
