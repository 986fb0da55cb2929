// Power-on, power-off, the worker's cycles and the bring-up against the test
// orchestrator over real TLS, with the tunnel mechanisms recorded.
#include "power_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "main/bring_up.h"
#include "main/power.h"
#include "main/traffic_sample.h"
#include "main/worker.h"
#include "orchestrator/predicates.h"

namespace tarvo {
namespace {

using namespace std::chrono_literals;
using sim::Scenario;
using ::testing::ElementsAre;

TEST_F(PowerTest, MalformedKeySendsNothingAndAsksForAKey) {
    {
        auto state = context.shared->lock();
        state->config.DeviceCode = "ABC";
    }
    testing::power_on_now(context);
    EXPECT_TRUE(sync_targets().empty());
    auto state = context.shared->lock();
    EXPECT_EQ(state->log.back().text,
              "Błąd: wpisz 12-znakowy klucz urządzenia lub kod przepustki PASS-48H-...");
    EXPECT_EQ(state->log.back().level, LogLevel::error);
    EXPECT_EQ(state->orchestrator_card.text, "Podaj klucz / PASS");
    EXPECT_TRUE(state->orchestrator_card.standby);
    EXPECT_FALSE(state->orchestrator_card.online);
    EXPECT_FALSE(state->connecting);
    EXPECT_FALSE(state->power_on);
    EXPECT_EQ(state->tunnel_card.text, "Start usługi...");
    EXPECT_TRUE(tunnel.calls().empty());
}

TEST_F(PowerTest, EndsEarlyOnAFailedSyncOrAnAnswerWithoutAHub) {
    const struct {
        const char* name;
        std::string body;
        int status;
        const char* log;
        const char* card;
        bool standby_before;
        bool standby_after;
    } cases[] = {
        {"refused code", R"({"detail": "Nieznany kod"})", 403, "BŁĄD WŁĄCZANIA: Nieznany kod (HTTP 403)",
         "Odrzucono kod", false, true},
        // "Błąd danych" keeps the card's standby as it was.
        {"no hub", R"({"node_id": 3, "allow_l3": true})", 200,
         "Błąd: odpowiedź serwera nie zawiera konfiguracji huba.", "Błąd danych", false, false},
        {"empty hub key",
         R"({"node_id": 3, "allow_l3": true, "hub": {"endpoint": "x:1", "server_public_key": ""}})", 200,
         "Błąd: odpowiedź serwera nie zawiera konfiguracji huba.", "Błąd danych", true, true},
    };
    for (const auto& c : cases) {
        answer_sync(kKey, c.body, c.status);
        context.shared->lock()->orchestrator_card.standby = c.standby_before;
        testing::power_on_now(context);
        auto state = context.shared->lock();
        EXPECT_EQ(state->log.back().text, c.log) << c.name;
        EXPECT_EQ(state->orchestrator_card.text, c.card) << c.name;
        EXPECT_FALSE(state->orchestrator_card.online) << c.name;
        EXPECT_EQ(state->orchestrator_card.standby, c.standby_after) << c.name;
        EXPECT_FALSE(state->power_on) << c.name;
        EXPECT_FALSE(state->connecting) << c.name;
        EXPECT_FALSE(state->last_result) << c.name;
    }
    EXPECT_TRUE(tunnel.calls().empty());
}

TEST_F(PowerTest, WaitingForALinkParksWithThePowerOnAndReportsPowerOff) {
    answer_sync(kKey, device_answer("", false));
    context.shared->lock()->config.ForceL3 = true;
    // The mode toggled while the sync is in flight: the park reports the mode it copied.
    at_next_request([this] { context.shared->lock()->config.ForceL3 = false; });
    testing::power_on_now(context);

    EXPECT_THAT(sync_targets(), ElementsAre(query(kKey, 1, 1, 0, 0), query(kKey, 0, 1, 0, 0)));
    EXPECT_THAT(tunnel.calls(), ElementsAre("stop_bridge reset", "close_engine"));
    auto state = context.shared->lock();
    EXPECT_TRUE(state->power_on);
    EXPECT_FALSE(state->connecting);
    EXPECT_EQ(state->tunnel_card.text, "Projekt wstrzymany");
    EXPECT_EQ(status_badge(state->tunnel_card), "OFFLINE");
    EXPECT_EQ(state->orchestrator_card.text, "HTTPS OK (ID #17)");
    EXPECT_EQ(state->headline, "Laptop-7  •  Oczekiwanie na link w projekcie");
    EXPECT_EQ(state->detail, "Połączono z Orkiestratorem (ID #17) — dodaj linię L3/L2 w panelu SD-WAN");
    EXPECT_EQ(state->status_label, "OCZEKIWANIE");
    EXPECT_EQ(state->accent_color, kCyan);
    EXPECT_EQ(state->log.back().level, LogLevel::progress);
    EXPECT_EQ(
        state->log.back().text,
        "Połączono z Orkiestratorem ('Laptop-7', ID #17). Brak przypisanego linku L3/L2 w projekcie — tunel "
        "VPN i karta TAP pozostają w trybie oczekiwania (IDLE).");
    ASSERT_TRUE(state->last_result);
    EXPECT_FALSE(state->last_project_enabled);
    EXPECT_EQ(state->last_topology_signature, topology_signature(*state->last_result));
}

TEST_F(PowerTest, ARefusedServicePassParksWithThePowerOff) {
    {
        auto state = context.shared->lock();
        state->config.DeviceCode = kPass;
    }
    answer_sync(kPass,
                std::string(R"({"node_id": 4, "name": "Serwis", "node_type": "pass", "pass_status": "EXPIRED",
        "reason": "Wygasła", )") +
                    kHub + "}");
    testing::power_on_now(context);

    auto state = context.shared->lock();
    EXPECT_FALSE(state->power_on);
    EXPECT_EQ(state->tunnel_card.text, "Przepustka wyłączona");
    EXPECT_EQ(status_badge(state->tunnel_card), "STANDBY");
    EXPECT_EQ(state->headline, "Serwis  •  Wygasła");
    EXPECT_EQ(
        state->detail,
        "Kod PASS-48H-ABCD1234 nie ma aktywnego dostępu — poproś administratora o aktywację lub nowy kod");
    EXPECT_EQ(state->status_label, "PASS WYGASŁA");
    EXPECT_EQ(state->accent_color, kRed);
    EXPECT_EQ(state->log.back().text, "Odmowa zestawienia tunelu dla 'Serwis': Wygasła.");
    EXPECT_EQ(state->log.back().level, LogLevel::error);
    EXPECT_EQ(state->orchestrator_card.text, "HTTPS OK (ID #4)");
    EXPECT_TRUE(state->orchestrator_card.standby);
}

TEST_F(PowerTest, AGrantedAnswerBringsUpLayer3AndReportsTheResult) {
    answer_sync(kKey, device_answer(kL3Link));
    tunnel.set_counters({700, 900});
    testing::power_on_now(context);

    EXPECT_THAT(tunnel.calls(), ElementsAre("start_engine 10.200.0.0/24 10.254.0.0/16 10.50.0.0/24",
                                            "ping -n 2 -w 900 10.200.0.1", "stop_bridge reset"));
    ASSERT_TRUE(tunnel.last_start);
    EXPECT_EQ(tunnel.last_start->endpoint, "192.0.2.1:51820");
    EXPECT_EQ(tunnel.last_start->wg_ip, "10.200.0.17");
    // The report carries the running flags and totals of the sample after the bring-up.
    EXPECT_THAT(sync_targets(), ElementsAre(query(kKey, 1, 0, 0, 0), query(kKey, 1, 0, 1, 0, 900, 700)));

    auto state = context.shared->lock();
    EXPECT_TRUE(state->power_on);
    EXPECT_FALSE(state->connecting);
    EXPECT_TRUE(state->wg_running);
    EXPECT_EQ(state->status_label, "WŁĄCZONY (L3)");
    EXPECT_EQ(state->accent_color, kGreen);
    EXPECT_EQ(state->headline, "Laptop-7  •  WG: 10.200.0.17");
    EXPECT_EQ(state->detail, "Podsieć lokalna: 192.168.7.0/24   |   Hub: 10.200.0.1");
    EXPECT_EQ(state->tunnel_card.text, "WG 10.200.0.17");
    EXPECT_EQ(state->bridge_card.text, "TAP Idle (Tylko L3)");
    EXPECT_EQ(state->orchestrator_card.text, "HTTPS OK (ID #17)");
    EXPECT_EQ(status_badge(state->orchestrator_card), "ONLINE");
    std::vector<std::pair<std::string, LogLevel>> tail;
    for (auto it = state->log.end() - 5; it != state->log.end(); ++it) tail.emplace_back(it->text, it->level);
    EXPECT_THAT(
        tail, ElementsAre(
                  std::pair<std::string, LogLevel>{"Autoryzowano węzeł 'Laptop-7' (WG IP: 10.200.0.17, LAN: "
                                                   "192.168.7.0/24)",
                                                   LogLevel::success},
                  std::pair<std::string, LogLevel>{"Konfiguracja natywnego adaptera jądra WireGuard-NT "
                                                   "(AllowedIPs: 10.200.0.0/24, 10.254.0.0/16, "
                                                   "10.50.0.0/24)...",
                                                   LogLevel::neutral},
                  std::pair<std::string, LogLevel>{"Adapter WireGuard-NT ('tarvo-client', 10.200.0.17) "
                                                   "uruchomiony w jądrze Windows.",
                                                   LogLevel::success},
                  std::pair<std::string, LogLevel>{"Handshake WireGuard potwierdzony (Ping 10.200.0.1 OK) — "
                                                   "zielona lampka aktywna!",
                                                   LogLevel::success},
                  std::pair<std::string, LogLevel>{"Tryb routingu L3 aktywny (karta TAP obecna w stanie "
                                                   "IDLE).",
                                                   LogLevel::neutral}));
}

TEST_F(PowerTest, BringUpDecidesBetweenTheBridgeAndLayer3) {
    const struct {
        const char* name;
        std::string links;
        std::string node_type;
        bool force_l3;
        std::vector<std::string> calls;
        const char* bridge_text;  // nullptr: the bridge start publishes its own
        LogLevel bridge_line_level;
    } cases[] = {
        {"L2 link starts the bridge",
         kL3Link + "," + kL2Link,
         "laptop",
         false,
         {"start_engine 10.200.0.0/24 10.254.0.0/16 10.50.0.0/24", "ping -n 2 -w 900 10.200.0.1",
          "start_bridge 6 10.200.0.1"},
         nullptr,
         LogLevel::plain},
        {"forced L3 idles the TAP",
         kL2Link,
         "laptop",
         true,
         {"start_engine 10.200.0.0/24 10.254.0.0/16 10.9.9.0/24", "ping -n 2 -w 900 10.200.0.1",
          "stop_bridge reset"},
         "Wymuszony L3 (TAP Idle)",
         LogLevel::warning},
        {"desktop runs the gateway step",
         kL3Link,
         "desktop",
         false,
         {"start_engine 10.200.0.0/24 10.254.0.0/16 10.50.0.0/24",
          "powershell -NoProfile -Command " + std::string(kGatewayScript), "ping -n 2 -w 900 10.200.0.1",
          "stop_bridge reset"},
         "TAP Idle (Tylko L3)",
         LogLevel::neutral},
        {"LAN link: gateway, LAN texts",
         R"({"id": 9, "source_id": 17, "target_id": 2, "mode": "LAN", "src_subnet": "a", "dst_subnet": "b"})",
         "laptop",
         false,
         {"start_engine 10.200.0.0/24 10.254.0.0/16",
          "powershell -NoProfile -Command " + std::string(kGatewayScript), "ping -n 2 -w 900 10.200.0.1",
          "stop_bridge reset"},
         "Tylko L3 (192.168.7.0/24)",
         LogLevel::success},
    };
    for (const auto& c : cases) {
        SetUp();
        tunnel.clear();
        BootstrapResult result;
        {
            std::string body = device_answer(c.links);
            answer_sync(kKey, body);
            auto state = context.shared->lock();
            state->config.ForceL3 = c.force_l3;
        }
        auto answer = sync_with_orchestrator(context.endpoint, kKey, {});
        ASSERT_TRUE(answer) << answer.error();
        answer->node_type = c.node_type;
        bring_up_tunnel(context, *answer, *answer->hub);
        EXPECT_EQ(tunnel.calls(), c.calls) << c.name;
        if (c.bridge_text) {
            auto state = context.shared->lock();
            EXPECT_EQ(state->bridge_card.text, c.bridge_text) << c.name;
            EXPECT_EQ(state->log.back().level, c.bridge_line_level) << c.name;
            EXPECT_FALSE(state->l2_running) << c.name;
        }
    }
}

TEST_F(PowerTest, AFailedEngineStartEndsTheBringUpAndLeavesTheBridge) {
    answer_sync(kKey, device_answer(kL2Link));
    auto answer = sync_with_orchestrator(context.endpoint, kKey, {});
    ASSERT_TRUE(answer);
    {
        auto state = context.shared->lock();
        state->l2_running = true;
        state->bridge_card.text = "EoIP aktywny";
    }
    tunnel.engine_error = "Klucz ma 31 bajtów (wymagane 32)";
    bring_up_tunnel(context, *answer, *answer->hub);
    EXPECT_EQ(tunnel.calls().size(), 1u);  // no gateway, no probe, no bridge decision
    auto state = context.shared->lock();
    EXPECT_EQ(state->log.back().text, "Błąd uruchomienia WireGuard-NT: Klucz ma 31 bajtów (wymagane 32)");
    EXPECT_EQ(state->log.back().level, LogLevel::error);
    EXPECT_EQ(state->tunnel_card.text, "Błąd WG-NT");
    EXPECT_TRUE(state->tunnel_card.standby);
    EXPECT_FALSE(state->wg_running);
    EXPECT_TRUE(state->l2_running);
    EXPECT_EQ(state->bridge_card.text, "EoIP aktywny");
}

TEST_F(PowerTest, AnUnansweredProbeIsSilent) {
    for (const CommandOutput& ping : {CommandOutput{1, "TTL=64"}, CommandOutput{0, "Request timed out."},
                                      CommandOutput{-1, "ping (os error 2)"}}) {
        EXPECT_FALSE(probe_answered(ping)) << ping.text;
    }
    EXPECT_TRUE(probe_answered({0, "64 bytes from 10.200.0.1: icmp_seq=1 ttl=64 time=0.1 ms"}));
}

TEST_F(PowerTest, PowerOffStopsEverythingAndSendsTwoPowerOffReports) {
    answer_sync(kKey, device_answer(kL3Link));
    testing::power_on_now(context);
    orchestrator->clear_requests();
    tunnel.clear();

    const std::size_t logged_before = log_texts().size();
    testing::power_off_now(context);
    EXPECT_THAT(tunnel.calls(), ElementsAre("stop_bridge reset", "close_engine held"));
    EXPECT_THAT(sync_targets(), ElementsAre(query(kKey, 0, 0, 0, 0), query(kKey, 0, 0, 0, 0)));
    auto state = context.shared->lock();
    EXPECT_FALSE(state->power_on);
    EXPECT_FALSE(state->disconnecting);
    EXPECT_FALSE(state->config.AutoConnect);
    EXPECT_EQ(state->headline, "Laptop-7 (Tunel wyłączony)");
    EXPECT_EQ(state->detail, "Podsieć lokalna: 192.168.7.0/24   |   Hub: 10.200.0.1");  // kept
    EXPECT_EQ(state->tunnel_card.text, "Zatrzymany");
    EXPECT_EQ(state->bridge_card.text, "TAP Idle");
    EXPECT_EQ(state->status_label, "WYŁĄCZONY");
    EXPECT_EQ(state->accent_color, kSlate);
    EXPECT_EQ(state->log.back().text,
              "Tunel SD-WAN został wyłączony (Orkiestrator widoczny, adapter TAP w trybie IDLE).");
    EXPECT_EQ(state->log[logged_before].text,
              "Wyłączanie tunelu SD-WAN, przełączanie TAP w tryb IDLE i powiadamianie serwera...");
    EXPECT_EQ(state->log[logged_before].level, LogLevel::warning);
    EXPECT_EQ(load_client_config().AutoConnect, false);
}

TEST_F(PowerTest, PowerOffWithoutAStoredAnswerSaysOnlyThatTheTunnelIsOff) {
    testing::power_off_now(context);
    auto state = context.shared->lock();
    EXPECT_EQ(state->headline, "Tunel wyłączony");
}

TEST_F(PowerTest, SaveKeyCleansStoresAndWarnsOfAMalformedKey) {
    const struct {
        const char* typed;
        const char* stored;
        const char* log;  // nullptr: nothing logged, nothing stored
        LogLevel level;
    } cases[] = {
        {" pass-48h-abcd 1234 ", "PASS-48H-ABCD1234", "Kod przepustki serwisowej zapisany: PASS-48H-ABCD1234",
         LogLevel::success},
        {"abcd-1234-efgh", "ABCD1234EFGH", "Klucz urządzenia zapisany: ABCD1234EFGH", LogLevel::success},
        {"abc", "ABC", "Uwaga: nieprawidłowy format 'ABC' (podaj 12-znakowy klucz lub kod PASS-48H-...).",
         LogLevel::warning},
        {" - ", "ABC", nullptr, LogLevel::plain},
    };
    for (const auto& c : cases) {
        std::string key = c.typed;
        bool editing = true;
        const std::size_t before = log_texts().size();
        const std::size_t requests_before = orchestrator->requests().size();
        save_key(context, key, editing);
        EXPECT_FALSE(editing);
        // Every save starts a status check of its own, which asks the orchestrator.
        wait_for_detached_threads();
        EXPECT_GT(orchestrator->requests().size(), requests_before) << c.typed;
        auto state = context.shared->lock();
        EXPECT_EQ(state->config.DeviceCode, c.stored) << c.typed;
        if (c.log) {
            ASSERT_GT(state->log.size(), before);
            EXPECT_EQ(state->log[before].text, c.log);
            EXPECT_EQ(state->log[before].level, c.level);
            EXPECT_EQ(load_client_config().DeviceCode, c.stored);
        } else {
            EXPECT_TRUE(state->log.size() == before || state->log[before].text.starts_with("Orkiestrator"))
                << c.typed;
        }
    }
}

// --- the worker ---

class WorkerTest : public PowerTest {
protected:
    void power_on_with(const std::string& body) {
        answer_sync(kKey, body);
        testing::power_on_now(context);
        orchestrator->clear_requests();
        tunnel.clear();
    }
};

TEST_F(WorkerTest, AnUnchangedAnswerIsNotStored) {
    power_on_with(device_answer(kL3Link));
    // Only the name changed: not part of the signature.
    std::string renamed = device_answer(kL3Link);
    renamed.replace(renamed.find("Laptop-7"), 8, "Laptop-8");
    answer_sync(kKey, renamed);
    run_worker_cycle(context);
    EXPECT_THAT(sync_targets(), ElementsAre(query(kKey, 1, 0, 1, 0)));
    EXPECT_TRUE(tunnel.calls().empty());
    auto state = context.shared->lock();
    EXPECT_EQ(state->last_result->name, "Laptop-7");
}

TEST_F(WorkerTest, AChangedGrantedAnswerReloadsTheTunnel) {
    power_on_with(device_answer(kL3Link));
    answer_sync(kKey, device_answer(kL3Link + "," + kL2Link));
    run_worker_cycle(context);
    EXPECT_THAT(tunnel.calls(), ElementsAre("start_engine 10.200.0.0/24 10.254.0.0/16 10.50.0.0/24",
                                            "ping -n 2 -w 900 10.200.0.1", "start_bridge 6 10.200.0.1"));
    auto state = context.shared->lock();
    EXPECT_TRUE(state->power_on);
    EXPECT_FALSE(state->connecting);
    EXPECT_EQ(state->last_topology_signature, topology_signature(*state->last_result));
    EXPECT_EQ(state->last_result->links.size(), 2u);
}

TEST_F(WorkerTest, APausedProjectGrantedByAllowL3ComesUpAndTheSameAnswerReloadsNothing) {
    power_on_with(device_answer(kL3Link, false, R"("allow_l3": true, )"));
    EXPECT_TRUE(context.shared->lock()->wg_running);
    run_worker_cycle(context);
    EXPECT_TRUE(tunnel.calls().empty());
}

TEST_F(WorkerTest, AChangedGrantedAnswerWithoutAHubIsOnlyStored) {
    power_on_with(device_answer(kL3Link));
    answer_sync(kKey, R"({"node_id": 17, "name": "Laptop-7", "allow_l3": true, "project_enabled": true})");
    run_worker_cycle(context);
    EXPECT_TRUE(tunnel.calls().empty());
    auto state = context.shared->lock();
    EXPECT_FALSE(state->last_result->hub);
    EXPECT_TRUE(state->wg_running);
}

TEST_F(WorkerTest, AWithdrawnTunnelStopsWithTheWorkersWording) {
    power_on_with(device_answer(kL3Link));
    answer_sync(kKey, device_answer("", false, R"("reason": "Wstrzymany", )"));
    run_worker_cycle(context);
    EXPECT_THAT(tunnel.calls(), ElementsAre("stop_bridge reset", "close_engine held"));
    auto state = context.shared->lock();
    EXPECT_TRUE(state->power_on);
    EXPECT_EQ(state->tunnel_card.text, "Projekt wstrzymany");
    EXPECT_EQ(state->detail, "Kanał kontrolny :5000 aktywny (ID #17) — dodaj linię L3/L2 w panelu SD-WAN");
    EXPECT_EQ(state->status_label, "OCZEKIWANIE");
    const auto& line = *(state->log.end() - 1);
    EXPECT_EQ(line.text,
              "Kanał kontrolny :5000 — brak zgody na tunel (Wstrzymany). Zatrzymuję WG i przełączam TAP w "
              "stan IDLE.");
    EXPECT_EQ(line.level, LogLevel::warning);
}

TEST_F(WorkerTest, ARefusedPassStopsWithTheErrorLevel) {
    {
        auto state = context.shared->lock();
        state->config.DeviceCode = kPass;
        state->power_on = true;
    }
    answer_sync(kPass, std::string(R"({"node_id": 4, "name": "Serwis", "node_type": "pass",
        "pass_status": "DISABLED", "allow_l3": false})"));
    run_worker_cycle(context);
    auto state = context.shared->lock();
    EXPECT_EQ(state->log.back().text,
              "Kanał kontrolny :5000 — brak zgody na tunel (Brak linku w projekcie). Zatrzymuję WG i "
              "przełączam TAP "
              "w stan IDLE.");
    EXPECT_EQ(state->log.back().level, LogLevel::error);
    EXPECT_EQ(state->headline, "Serwis  •  Przepustka wygasła / wyłączona");
    EXPECT_EQ(state->detail, "Kod PASS-48H-ABCD1234 utracił ważność lub został wyłączony w panelu SD-WAN");
    EXPECT_EQ(state->status_label, "PASS WYŁĄCZONA");
    EXPECT_EQ(state->accent_color, kRed);
    EXPECT_EQ(status_badge(state->tunnel_card), "STANDBY");
}

TEST_F(WorkerTest, CyclesThatSendNothing) {
    const struct {
        const char* name;
        const char* code;
        bool connecting;
        bool disconnecting;
    } cases[] = {
        {"malformed key while on", "ABC", false, false},
        {"power-on in progress", kKey, true, false},
        {"power-off in progress", kKey, false, true},
    };
    answer_sync(kKey, device_answer(kL3Link));
    for (const auto& c : cases) {
        {
            auto state = context.shared->lock();
            state->config.DeviceCode = c.code;
            state->power_on = true;
            state->connecting = c.connecting;
            state->disconnecting = c.disconnecting;
        }
        const int repaints_before = repaints;
        run_worker_cycle(context);
        EXPECT_TRUE(orchestrator->requests().empty()) << c.name;
        EXPECT_GT(repaints, repaints_before) << c.name;
    }
}

TEST_F(WorkerTest, AFailedPollOnlyTurnsTheCardOffline) {
    power_on_with(device_answer(kL3Link));
    answer_sync(kKey, "{", 200);
    run_worker_cycle(context);
    auto state = context.shared->lock();
    EXPECT_EQ(state->orchestrator_card.text, "Brak łączności HTTPS");
    EXPECT_FALSE(state->orchestrator_card.online);
    EXPECT_TRUE(state->wg_running);
    EXPECT_TRUE(tunnel.calls().empty());
}

TEST_F(WorkerTest, APowerOffDuringAReloadIsNeverUndone) {
    power_on_with(device_answer(kL3Link));
    // The power-off is clicked while the poll that would reload is in flight.
    answer_sync(kKey, device_answer(kL3Link + "," + kL2Link));
    at_next_request([this] { ASSERT_TRUE(click_power_off()); });
    run_worker_cycle(context);
    join_clicks();
    EXPECT_THAT(tunnel.calls(), ElementsAre("stop_bridge reset", "close_engine held"));
    auto state = context.shared->lock();
    EXPECT_FALSE(state->power_on);
    EXPECT_FALSE(state->bridge.running->load());
    EXPECT_EQ(state->wg.adapter, nullptr);
}

// --- traffic sampling ---

TEST_F(PowerTest, TrafficRatesNeedHalfASecondAndSaturateWhenCountersStartAgain) {
    EXPECT_FALSE(rate_between(0, 0, 100, 100, 499ms));
    const auto rate = rate_between(1000, 5000, 2024, 4000, 500ms);
    ASSERT_TRUE(rate);
    EXPECT_DOUBLE_EQ(rate->rx_per_second, 2048);
    EXPECT_DOUBLE_EQ(rate->tx_per_second, 0);
}

TEST_F(PowerTest, TheFirstSampleOnlyRecordsAndLaterOnesWriteTheTexts) {
    answer_sync(kKey, device_answer(kL3Link));
    tunnel.set_counters({100, 200});
    testing::power_on_now(context);  // its sample is the first of the process
    {
        auto state = context.shared->lock();
        EXPECT_EQ(state->rx_rate_text, "0 B/s");
        EXPECT_EQ(state->rx_total_text, "Suma: 0 B");
        EXPECT_EQ(state->rx_total, 200u);
        state->bridge.rx_bytes->store(5000);  // the larger counter wins
    }
    tunnel.set_counters({100 + 2048, 300});
    clock.advance(1s);
    sample_traffic(context);
    {
        auto state = context.shared->lock();
        EXPECT_EQ(state->rx_total, 5000u);
        EXPECT_EQ(state->rx_total_text, "Suma: 4.9 KB");
        EXPECT_EQ(state->rx_rate_text, "4.7 KB/s");
        EXPECT_EQ(state->tx_rate_text, "2.0 KB/s");
        EXPECT_EQ(state->tx_total_text, "Suma: 2.1 KB");
    }
    // The next rate is over the second since this sample, not since the first.
    tunnel.set_counters({100 + 2048 + 1024, 300});
    clock.advance(1s);
    sample_traffic(context);
    EXPECT_EQ(context.shared->lock()->tx_rate_text, "1.0 KB/s");
}

}  // namespace
}  // namespace tarvo
