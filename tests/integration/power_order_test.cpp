// Tunnel operations asked for while another one changes the tunnel: they run
// one at a time in the order asked for, a second ask of a kind already in
// progress is refused, a power-off is never undone, and each operation sends
// exactly its own requests. The status check is no tunnel operation.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <optional>
#include <thread>

#include "main/power.h"
#include "main/worker.h"
#include "power_fixture.h"
#include "support/waiting.h"

namespace tarvo {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// Holds the first caller of pass() until open(); later callers go through.
class Gate {
public:
    void pass() {
        std::unique_lock<std::mutex> lock(mutex_);
        reached_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
    }
    bool wait_reached() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, 30s, [&] { return reached_; });
    }
    void open() {
        std::lock_guard<std::mutex> hold(mutex_);
        open_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool reached_ = false;
    bool open_ = false;
};

const std::string kStartEngine = "start_engine 10.200.0.0/24 10.254.0.0/16 10.50.0.0/24";
inline constexpr const char* kNewKey = "WXYZ5678ABCD";

class PowerOrderTest : public PowerTest {
protected:
    // Powered on over an L3 link; the orchestrator's answer has since gained
    // an L2 link, so the worker's next poll reloads the tunnel. A new key gets
    // the same answer.
    void power_on_then_change_the_answer() {
        tunnel.on_probe = nullptr;
        answer_sync(kKey, device_answer(kL3Link));
        ASSERT_TRUE(testing::power_on_now(context));
        Scenario changed;
        changed.status = {200, "{}"};
        for (const char* code : {kKey, kNewKey})
            changed.sync[code] = {200, device_answer(kL3Link + "," + kL2Link)};
        orchestrator->set_scenario(changed);
        orchestrator->clear_requests();
        tunnel.clear();
    }

    long engine_starts() const {
        const auto calls = tunnel.calls();
        return std::count(calls.begin(), calls.end(), kStartEngine);
    }
};

TEST_F(PowerOrderTest, ClicksDuringAReloadRunAfterItInTheOrderClickedAndASecondOfAKindIsRefused) {
    const struct {
        const char* name;
        std::vector<std::string> clicks;
        const char* typed;  // the key of the power-on clicks
        std::vector<bool> accepted;
        bool power_on_at_end;
        std::vector<std::string> syncs_after_the_poll;
    } cases[] = {
        {"on, then off: ends off",
         {"on", "off"},
         kKey,
         {true, true},
         false,
         {query(kKey, 1, 0, 1, 1), query(kKey, 1, 0, 1, 1), query(kKey, 0, 0, 0, 0),
          query(kKey, 0, 0, 0, 0)}},
        // The power-off reports with the key in force at its click; its status
        // check and the power-on use the newly typed one.
        {"off, then on with a new key: ends on",
         {"off", "on"},
         kNewKey,
         {true, true},
         true,
         {query(kKey, 0, 0, 0, 0), query(kNewKey, 0, 0, 0, 0), query(kNewKey, 1, 0, 0, 0),
          query(kNewKey, 1, 0, 1, 1)}},
        {"each twice: one of each, the power-off's two reports only",
         {"on", "on", "off", "off"},
         kKey,
         {true, false, true, false},
         false,
         {query(kKey, 1, 0, 1, 1), query(kKey, 1, 0, 1, 1), query(kKey, 0, 0, 0, 0),
          query(kKey, 0, 0, 0, 0)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        power_on_then_change_the_answer();
        // The reload pauses at its probe: it holds the turn, not the record's lock.
        Gate gate;
        tunnel.on_probe = [&gate] { gate.pass(); };
        std::thread worker([this] { run_worker_cycle(context); });
        ASSERT_TRUE(gate.wait_reached()) << "the reload's probe";

        std::vector<bool> accepted;
        for (const std::string& click : c.clicks)
            accepted.push_back(click == "on" ? click_power_on(c.typed) : click_power_off());
        EXPECT_EQ(accepted, c.accepted);
        {
            auto state = context.shared->lock();
            EXPECT_TRUE(state->connecting && state->disconnecting) << "both shown in progress at once";
        }
        gate.open();
        worker.join();
        join_clicks();

        auto syncs = sync_targets();
        ASSERT_FALSE(syncs.empty());
        EXPECT_EQ(syncs.front(), query(kKey, 1, 0, 1, 0)) << "the poll";
        EXPECT_THAT(std::vector<std::string>(syncs.begin() + 1, syncs.end()),
                    ElementsAreArray(c.syncs_after_the_poll));
        EXPECT_EQ(engine_starts(), 2) << "the reload's and the power-on's";
        EXPECT_EQ(load_client_config().AutoConnect, c.power_on_at_end) << "as the last click left it";
        auto state = context.shared->lock();
        EXPECT_EQ(state->power_on, c.power_on_at_end);
        EXPECT_EQ(state->wg.adapter != nullptr, c.power_on_at_end);
        EXPECT_EQ(state->bridge.running->load(), c.power_on_at_end);
        EXPECT_FALSE(state->connecting);
        EXPECT_FALSE(state->disconnecting);
    }
}

TEST_F(PowerOrderTest, APowerOnOrPowerOffAskedForWhileAPollIsInFlightWinsOverItsReload) {
    for (const bool on : {true, false}) {
        SCOPED_TRACE(on ? "power-on" : "power-off");
        SetUp();
        power_on_then_change_the_answer();
        at_next_request([this, on] { ASSERT_TRUE(on ? click_power_on() : click_power_off()); });
        run_worker_cycle(context);
        join_clicks();
        EXPECT_EQ(engine_starts(), on ? 1 : 0) << "no reload of the worker's";
        auto state = context.shared->lock();
        EXPECT_EQ(state->power_on, on);
        EXPECT_EQ(state->bridge.running->load(), on) << "the power-on's own answer has the L2 link";
        EXPECT_EQ(state->last_result->links.size(), on ? 2u : 1u);
    }
}

// A power-on asked for during the poll gets a newer answer than the poll's:
// the worker must not reload the tunnel with its older one afterwards.
TEST_F(PowerOrderTest, AReloadOnAnAnswerOlderThanAPowerOnsIsDropped) {
    power_on_then_change_the_answer();
    TunnelTurn& turns = context.shared->tunnel_turn();
    std::mutex asked_mutex;
    std::optional<TunnelTurn::Ticket> asked;
    at_next_request([&] {
        auto state = context.shared->lock();
        auto ticket = ask_for_power_on(*context.shared, *state);
        std::lock_guard<std::mutex> hold(asked_mutex);
        asked = std::move(ticket);
    });
    const std::uint64_t before = turns.issued();
    auto cycle = std::async(std::launch::async, [this] { run_worker_cycle(context); });
    // The cycle has ended, or its reload waits behind the power-on: either
    // way the poll's answer is in. Only then is the power-on answered.
    bool settled = false;
    for (int i = 0; i < 3000 && !settled; ++i)
        settled = cycle.wait_for(10ms) == std::future_status::ready || turns.issued() > before + 1;
    ASSERT_TRUE(settled) << "the worker's cycle";
    answer_sync(kKey, device_answer(kL2Link));
    std::optional<TunnelTurn::Ticket> ticket;
    {
        std::lock_guard<std::mutex> hold(asked_mutex);
        ticket = std::move(asked);
    }
    ASSERT_TRUE(ticket);
    run_power_on(context, std::move(*ticket));
    cycle.get();

    const auto calls = tunnel.calls();
    EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                            [](const std::string& call) { return call.starts_with("start_engine"); }),
              1)
        << "the power-on's only";
    EXPECT_EQ(calls.front(), "start_engine 10.200.0.0/24 10.254.0.0/16");
    EXPECT_EQ(context.shared->lock()->last_result->links.size(), 1u);
}

// The reload waits for the turn behind an operation that held it before the
// cycle began; a power-off clicked meanwhile is seen once the turn comes.
TEST_F(PowerOrderTest, AReloadWaitingForItsTurnYieldsToAPowerOffClickedMeanwhile) {
    power_on_then_change_the_answer();
    TunnelTurn& turns = context.shared->tunnel_turn();
    std::optional<TunnelTurn::Hold> earlier;
    earlier.emplace(turns.wait(turns.take()));
    const std::uint64_t before = turns.issued();
    std::thread worker([this] { run_worker_cycle(context); });
    const auto waiting = testing::wait_until(
        "the worker's reload to take a ticket", [&] { return turns.issued() == before + 1; }, 30s);
    EXPECT_TRUE(waiting) << waiting.report;
    EXPECT_TRUE(click_power_off());
    earlier.reset();
    worker.join();
    join_clicks();
    EXPECT_EQ(engine_starts(), 0);
    EXPECT_THAT(tunnel.calls(), ElementsAre("stop_bridge reset", "close_engine held"));
    EXPECT_FALSE(context.shared->lock()->power_on);
}

TEST_F(PowerOrderTest, TheStatusCheckRunsWhileATunnelOperationHoldsTheTurn) {
    TunnelTurn& turns = context.shared->tunnel_turn();
    std::optional<TunnelTurn::Hold> held;
    held.emplace(turns.wait(turns.take()));
    auto cycle = std::async(std::launch::async, [this] { run_worker_cycle(context); });
    const bool ran = cycle.wait_for(30s) == std::future_status::ready;
    held.reset();
    cycle.get();
    EXPECT_TRUE(ran) << "the worker's cycle waited for the turn";
    EXPECT_THAT(sync_targets(), ElementsAre(query(kKey, 0, 0, 0, 0)));
}

TEST_F(PowerOrderTest, TheStartsOwnPowerOnGivesWayToAClickDuringTheStatusCheck) {
    const struct {
        const char* name;
        const char* click;  // nullptr: none
        std::vector<std::string> syncs;
    } cases[] = {
        {"no click: the start powers on",
         nullptr,
         {query(kKey, 0, 0, 0, 0), query(kKey, 1, 0, 0, 0), query(kKey, 1, 0, 1, 0)}},
        {"a power-off click: no power-on",
         "off",
         {query(kKey, 0, 0, 0, 0), query(kKey, 0, 0, 0, 0), query(kKey, 0, 0, 0, 0)}},
        {"a power-on click: that one only",
         "on",
         {query(kKey, 0, 0, 0, 0), query(kKey, 1, 0, 0, 0), query(kKey, 1, 0, 1, 0)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        answer_sync(kKey, device_answer(kL3Link));
        if (c.click) {
            const std::string click = c.click;
            at_next_request(
                [this, click] { ASSERT_TRUE(click == "on" ? click_power_on() : click_power_off()); });
        }
        run_worker_start(context, true);
        join_clicks();
        EXPECT_EQ(sync_targets(), c.syncs);
    }
}

}  // namespace
}  // namespace tarvo
