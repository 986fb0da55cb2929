#include "main/app_state.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <optional>
#include <thread>

#include "orchestrator/endpoint.h"

namespace tarvo {
namespace {

bool is_clock_text(const std::string& t) {
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    return t.size() == 8 && digit(t[0]) && digit(t[1]) && t[2] == ':' && digit(t[3]) && digit(t[4]) &&
           t[5] == ':' && digit(t[6]) && digit(t[7]) && t.substr(0, 2) < "24" && t.substr(3, 2) < "60" &&
           t.substr(6, 2) < "61";
}

TEST(CreateSharedState, StartsWithTheInitialTextsCardsAndOnlyTheStartLine) {
    auto shared = create_shared_state({"abcd-efgh-1234", false, true});
    auto state = shared->lock();

    EXPECT_EQ(state->config, (ClientConfig{"ABCDEFGH1234", false, true}));
    EXPECT_FALSE(state->last_result.has_value());
    EXPECT_EQ(state->last_topology_signature, "");
    EXPECT_EQ(state->headline, "Tunel wyłączony (Tryb oczekiwania)");
    EXPECT_EQ(state->detail, "Kliknij WŁĄCZ TUNEL, aby połączyć laptopa z koncentratorem SD-WAN");
    EXPECT_EQ(state->status_label, "WYŁĄCZONY");
    EXPECT_EQ(state->accent_color, (Color{100, 116, 139, 255}));

    struct CardCase {
        const StatusCard& card;
        std::string title;
        std::string text;
    };
    for (const auto& c : {CardCase{state->orchestrator_card,
                                   "Orkiestrator " + std::string(orchestrator_host()), "Sprawdzanie..."},
                          CardCase{state->tunnel_card, "Tunel L3 VPN", "WireGuard Kernel"},
                          CardCase{state->bridge_card, "Mostek L2 (EoIP)", "TAP w trybie IDLE"}}) {
        EXPECT_EQ(c.card.title, c.title);
        EXPECT_EQ(c.card.text, c.text);
        EXPECT_FALSE(c.card.online);
        EXPECT_FALSE(c.card.standby);
        EXPECT_EQ(status_badge(c.card), "OFFLINE");
    }

    EXPECT_EQ(state->rx_rate_text, "0 B/s");
    EXPECT_EQ(state->tx_rate_text, "0 B/s");
    EXPECT_EQ(state->rx_total_text, "Suma: 0 B");
    EXPECT_EQ(state->tx_total_text, "Suma: 0 B");
    EXPECT_EQ(state->wg.adapter_name, "tarvo-client");
    EXPECT_EQ(state->wg.adapter, nullptr);
    ASSERT_TRUE(state->bridge.running && state->bridge.rx_bytes && state->bridge.tx_bytes);
    EXPECT_FALSE(state->bridge.running->load());
    EXPECT_EQ(state->bridge.rx_bytes->load(), 0u);
    EXPECT_EQ(state->bridge.tx_bytes->load(), 0u);
    EXPECT_NE(state->bridge.rx_bytes, state->bridge.tx_bytes);
    EXPECT_FALSE(state->last_sample_at.has_value());
    EXPECT_EQ(state->rx_total + state->tx_total + state->prev_rx_total + state->prev_tx_total, 0u);
    EXPECT_FALSE(state->power_on || state->connecting || state->disconnecting || state->wg_running ||
                 state->l2_running || state->status_logged);
    EXPECT_TRUE(state->last_project_enabled);

    ASSERT_EQ(state->log.size(), 1u);
    EXPECT_EQ(state->log[0].text, "Sprawdzanie łączności ze stacją Orkiestratora SD-WAN...");
    EXPECT_EQ(state->log[0].level, LogLevel::neutral);
    EXPECT_TRUE(is_clock_text(state->log[0].time)) << state->log[0].time;
}

TEST(CreateSharedState, AnEmptyOrMalformedCodeIsKeptCleanedOnly) {
    EXPECT_EQ(create_shared_state({"", true, false})->lock()->config.DeviceCode, "");
    EXPECT_EQ(create_shared_state({"pass-48h-abcd1234", true, false})->lock()->config.DeviceCode,
              "PASS-48H-ABCD1234");
    EXPECT_EQ(create_shared_state({" ab-c ", true, false})->lock()->config.DeviceCode, "ABC");
}

TEST(PushLog, TheFiveHundredAndFirstEntryDropsTheOldestHundred) {
    AppState state(ClientConfig{});
    for (int i = 1; i <= 500; ++i) push_log(state, std::to_string(i), LogLevel::neutral);
    ASSERT_EQ(state.log.size(), 500u);

    push_log_str(state, "new", LogLevel::error);

    ASSERT_EQ(state.log.size(), 401u);
    for (std::size_t k = 0; k < 400; ++k) ASSERT_EQ(state.log[k].text, std::to_string(k + 101));
    EXPECT_EQ(state.log.back().text, "new");
    EXPECT_EQ(state.log.back().level, LogLevel::error);
}

TEST(PushLog, CountingStartsAgainAfterTheLogIsCleared) {
    AppState state(ClientConfig{});
    for (int i = 0; i < 450; ++i) push_log_str(state, "x", LogLevel::neutral);
    state.log.clear();
    for (int i = 0; i < 500; ++i) push_log_str(state, "y", LogLevel::neutral);
    EXPECT_EQ(state.log.size(), 500u);
}

TEST(PushLog, StoresTheMessageUnchangedInPushOrder) {
    AppState state(ClientConfig{});
    const std::string odd = "Błąd: \"x\"\n\t{} %s \xEF\xBF\xBD";
    push_log_str(state, odd, LogLevel::warning);
    push_log(state, "second", LogLevel::success);
    ASSERT_EQ(state.log.size(), 2u);
    EXPECT_EQ(state.log[0].text, odd);
    EXPECT_EQ(state.log[1].text, "second");
    EXPECT_TRUE(is_clock_text(state.log[1].time));
}

TEST(StatusBadge, OnlineWinsOverStandby) {
    struct Case {
        bool online, standby;
        std::string_view badge;
    };
    for (const auto& c : {Case{true, true, "ONLINE"}, Case{true, false, "ONLINE"},
                          Case{false, true, "STANDBY"}, Case{false, false, "OFFLINE"}}) {
        EXPECT_EQ(status_badge(StatusCard{"t", "x", c.online, c.standby}), c.badge);
    }
}

TEST(CloneStatusCard, IsAnIndependentCopy) {
    StatusCard card{"Tytuł", "Stan", true, false};
    StatusCard copy = clone_status_card(card);
    card.title += "!";
    card.text.clear();
    card.online = false;
    card.standby = true;
    EXPECT_EQ(copy.title, "Tytuł");
    EXPECT_EQ(copy.text, "Stan");
    EXPECT_TRUE(copy.online);
    EXPECT_FALSE(copy.standby);
}

TEST(LogLevelColor, FollowsThePalette) {
    EXPECT_EQ(log_level_color(LogLevel::plain), (Color{203, 213, 225, 255}));
    EXPECT_EQ(log_level_color(LogLevel::neutral), (Color{148, 163, 184, 255}));
    EXPECT_EQ(log_level_color(LogLevel::progress), (Color{6, 182, 212, 255}));
    EXPECT_EQ(log_level_color(LogLevel::success), (Color{16, 185, 129, 255}));
    EXPECT_EQ(log_level_color(LogLevel::warning), (Color{245, 158, 11, 255}));
    EXPECT_EQ(log_level_color(LogLevel::error), (Color{239, 68, 68, 255}));
}

TEST(LogLineText, GivesTimeLevelNameAndTextAsReceived) {
    const struct {
        LogLevel level;
        std::string line;
    } cases[] = {
        {LogLevel::plain, "09:05:01 [plain] a;b\"c"},       {LogLevel::neutral, "09:05:01 [neutral] a;b\"c"},
        {LogLevel::progress, "09:05:01 [progress] a;b\"c"}, {LogLevel::success, "09:05:01 [success] a;b\"c"},
        {LogLevel::warning, "09:05:01 [warning] a;b\"c"},   {LogLevel::error, "09:05:01 [error] a;b\"c"}};
    for (const auto& c : cases) EXPECT_EQ(log_line_text({"09:05:01", "a;b\"c", c.level}), c.line);
    EXPECT_EQ(log_line_text({"23:59:59", "Błąd — żółć", LogLevel::error}), "23:59:59 [error] Błąd — żółć");
}

TEST(SharedState, PushesFromSeveralThreadsAllArrive) {
    auto shared = create_shared_state({});
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([shared] {
            for (int i = 0; i < 50; ++i) push_log_str(*shared->lock(), "x", LogLevel::neutral);
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(shared->lock()->log.size(), 201u);
}

TEST(TunnelTurn, ServesTicketsInTheOrderTakenWhicheverThreadAsksFirst) {
    TunnelTurn turn;
    std::vector<TunnelTurn::Ticket> tickets;
    for (int i = 0; i < 4; ++i) tickets.push_back(turn.take());
    std::mutex mutex;
    std::vector<std::uint64_t> served;
    std::vector<std::thread> threads;
    // The last ticket's thread starts first.
    for (auto it = tickets.rbegin(); it != tickets.rend(); ++it) {
        threads.emplace_back([&, ticket = std::move(*it)]() mutable {
            const std::uint64_t number = ticket.number();
            const auto hold = turn.wait(std::move(ticket));
            std::lock_guard<std::mutex> lock(mutex);
            served.push_back(number);
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(served, (std::vector<std::uint64_t>{0, 1, 2, 3}));
}

TEST(TunnelTurn, ATicketDroppedUnservedIsSkipped) {
    TunnelTurn turn;
    std::optional<TunnelTurn::Ticket> first(turn.take());
    std::optional<TunnelTurn::Ticket> dropped_behind(turn.take());
    TunnelTurn::Ticket third = turn.take();
    dropped_behind.reset();  // before its turn is due
    { const auto hold = turn.wait(std::move(*first)); }
    std::optional<TunnelTurn::Ticket> dropped_when_due(turn.take());
    TunnelTurn::Ticket fifth = turn.take();
    auto waited = std::async(std::launch::async, [&] {
        { const auto hold = turn.wait(std::move(third)); }
        dropped_when_due.reset();  // its number is due: the next one is served at once
        const auto hold = turn.wait(std::move(fifth));
    });
    EXPECT_EQ(waited.wait_for(std::chrono::seconds(30)), std::future_status::ready)
        << "a waiter stuck behind a dropped ticket";
}

TEST(TunnelTurn, ATicketIsGivenOnlyWhileNoneWasTakenSinceACount) {
    TunnelTurn turn;
    const std::uint64_t seen = turn.issued();
    auto taken = turn.take_if_issued(seen);
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->number(), 0u);
    EXPECT_FALSE(turn.take_if_issued(seen)) << "one was taken since";
    EXPECT_EQ(turn.issued(), 1u);
}

}  // namespace
}  // namespace tarvo
