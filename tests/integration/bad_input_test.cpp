// An orchestrator answer whose texts carry quotes, semicolons or line breaks:
// they reach the screen as received and no script, since the system tools get
// only constants, parsed prefixes and addresses passed as arguments of their own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "main/bring_up.h"
#include "main/power.h"
#include "main/worker.h"
#include "power_fixture.h"
#include "wg_engine/wg_engine.h"

namespace tarvo {
namespace {

const std::string kHostileName = "Laptop'; Stop-Computer -Force; '\r\n\"$(Remove-Item C:\\ -Recurse)\"";
const std::string kHostileReason = "wstrzymany\"; netsh advfirewall set allprofiles state off; \"\nkoniec";
const std::string kHostileSubnet = "192.168.7.0/24'; New-NetRoute -DestinationPrefix '0.0.0.0/0'; '";
const std::string kHostileLinkSubnet = "10.66.0.0/24' -InterfaceAlias 'Ethernet'; Stop-Computer; '";
const std::vector<std::string> kHostile = {kHostileName,       kHostileReason,  kHostileSubnet,
                                           kHostileLinkSubnet, "Stop-Computer", "Remove-Item",
                                           "advfirewall",      "0.0.0.0/0"};

nlohmann::json hostile_answer(const std::string& node_type, bool enabled) {
    return {
        {"node_id", 17},
        {"name", kHostileName},
        {"node_type", node_type},
        {"wg_ip", "10.200.0.17"},
        {"local_subnet", kHostileSubnet},
        {"private_key", "cHJpdmF0ZUtleXByaXZhdGVLZXlwcml2YXRlS2V5cHI="},
        {"project_enabled", enabled},
        {"owner_active", true},
        {"reason", kHostileReason},
        {"hub",
         {{"endpoint", "192.0.2.1:51820"},
          {"server_public_key", "SGVsbG9IdWJLZXlIZWxsb0h1YktleUhlbGxvSHViS2U="},
          {"hub_wg_ip", "10.200.0.1"}}},
        {"links", enabled ? nlohmann::json::array({
                                {{"id", 5},
                                 {"source_id", 17},
                                 {"target_id", 2},
                                 {"mode", "L3"},
                                 {"src_subnet", kHostileSubnet},
                                 {"dst_subnet", "10.50.0.0/24"}},
                                {{"id", 7},
                                 {"source_id", 17},
                                 {"target_id", 3},
                                 {"mode", "L3"},
                                 {"src_subnet", "x"},
                                 {"dst_subnet", kHostileLinkSubnet}},
                                {{"id", 9},
                                 {"source_id", 17},
                                 {"target_id", 4},
                                 {"mode", "LAN"},
                                 {"src_subnet", kHostileLinkSubnet},
                                 {"dst_subnet", kHostileSubnet}},
                            })
                          : nlohmann::json::array()},
    };
}

class BadInputTest : public PowerTest {
protected:
    // Every command line the tools would run: the recorded ones, and those the
    // engine makes of its recorded inputs.
    std::vector<std::string> command_lines() {
        std::vector<std::string> lines = tunnel.calls();
        if (tunnel.last_start) {
            lines.push_back(mtu_and_routes_script("tarvo-client", tunnel.last_start->allowed_ips));
            for (const auto& arg : host_address_arguments("tarvo-client", tunnel.last_start->wg_ip))
                lines.push_back(arg);
        }
        return lines;
    }

    void expect_no_hostile_text_in_commands() {
        for (const std::string& line : command_lines()) {
            // The engine's own record of the allowed IPs is a list, not a script.
            if (line.starts_with("start_engine ")) continue;
            for (const std::string& hostile : kHostile)
                EXPECT_EQ(line.find(hostile), std::string::npos) << line << "\ncarries: " << hostile;
        }
    }

    bool logged(const std::string& text) {
        const auto texts = log_texts();
        return std::find(texts.begin(), texts.end(), text) != texts.end();
    }
};

TEST_F(BadInputTest, AGrantedAnswerShowsItsTextsAsReceivedAndRunsOnlyConstantsAndParsedPrefixes) {
    answer_sync(kKey, hostile_answer("desktop", true).dump());
    testing::power_on_now(context);

    const auto calls = tunnel.calls();
    ASSERT_FALSE(calls.empty());
    // The gateway step ran (a LAN link), with its constant script.
    EXPECT_NE(std::find(calls.begin(), calls.end(),
                        "powershell -NoProfile -Command " + std::string(kGatewayScript)),
              calls.end());
    ASSERT_TRUE(tunnel.last_start);
    EXPECT_EQ(mtu_and_routes_script("tarvo-client", tunnel.last_start->allowed_ips),
              mtu_and_routes_script("tarvo-client", {"10.200.0.0/24", "10.254.0.0/16", "10.50.0.0/24"}));
    expect_no_hostile_text_in_commands();

    {
        auto state = context.shared->lock();
        EXPECT_EQ(state->headline, kHostileName + "  •  WG: 10.200.0.17");
        EXPECT_EQ(state->detail, "Podsieć lokalna: " + kHostileSubnet + "   |   Hub: 10.200.0.1");
        EXPECT_EQ(state->bridge_card.text, "Tylko L3 (" + kHostileSubnet + ")");
    }
    EXPECT_TRUE(logged("Autoryzowano węzeł '" + kHostileName +
                       "' (WG IP: 10.200.0.17, LAN: " + kHostileSubnet + ")"));
    EXPECT_TRUE(logged("Brama L3 aktywna: IPv4 Forwarding oraz WinNAT (SNAT 10.200.0.0/24 -> " +
                       kHostileSubnet + ") gotowe."));
}

TEST_F(BadInputTest, ARefusedPassShowsItsReasonAsReceivedAndRunsNothing) {
    context.shared->lock()->config.DeviceCode = kPass;
    nlohmann::json answer = hostile_answer("pass", false);
    answer["pass_status"] = "DISABLED";
    answer["pass_code"] = kHostileName;
    answer_sync(kPass, answer.dump());
    testing::power_on_now(context);

    EXPECT_THAT(tunnel.calls(), ::testing::ElementsAre("stop_bridge reset", "close_engine"));
    {
        auto state = context.shared->lock();
        EXPECT_FALSE(state->power_on);
        EXPECT_EQ(state->headline, kHostileName + "  •  " + kHostileReason);
        EXPECT_EQ(state->detail,
                  "Kod " + kHostileName +
                      " nie ma aktywnego dostępu — poproś administratora o aktywację lub nowy kod");
    }
    EXPECT_TRUE(logged("Odmowa zestawienia tunelu dla '" + kHostileName + "': " + kHostileReason + "."));
}

TEST_F(BadInputTest, AWithdrawalByThePollShowsItsReasonAsReceivedAndRunsNothing) {
    answer_sync(kKey, device_answer(kL3Link));
    testing::power_on_now(context);
    tunnel.clear();

    answer_sync(kKey, hostile_answer("desktop", false).dump());
    run_worker_cycle(context);
    EXPECT_THAT(tunnel.calls(), ::testing::ElementsAre("stop_bridge reset", "close_engine held"));
    {
        auto state = context.shared->lock();
        EXPECT_EQ(state->headline, kHostileName + "  •  Oczekiwanie na link w projekcie");
        EXPECT_EQ(state->tunnel_card.text, "Projekt wstrzymany");
    }
    EXPECT_TRUE(logged("Kanał kontrolny :5000 — brak zgody na tunel (" + kHostileReason +
                       "). Zatrzymuję WG i przełączam TAP w stan IDLE."));
}

// Addresses that netsh would read as parameters ("name=value") and ping as
// options ("-t"): the client handles each as a missing address, so none of
// them reaches a command line.
TEST_F(BadInputTest, AddressesThatAreNoDottedQuadsReachNoCommandLine) {
    nlohmann::json answer = nlohmann::json::parse(device_answer(kL2Link));
    answer["wg_ip"] = "store=persistent";
    answer["hub"]["hub_wg_ip"] = "-t";
    answer["links"][0]["tap_ip"] = "store=persistent/24";
    answer_sync(kKey, answer.dump());
    testing::power_on_now(context);

    const auto calls = tunnel.calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "ping -n 2 -w 900 10.200.0.1"), calls.end())
        << ::testing::PrintToString(calls);
    EXPECT_NE(std::find(calls.begin(), calls.end(), "start_bridge 6 10.200.0.1"), calls.end())
        << ::testing::PrintToString(calls);
    ASSERT_TRUE(tunnel.last_start);
    EXPECT_EQ(host_address_arguments("tarvo-client", tunnel.last_start->wg_ip)[6], "");
    for (const std::string& line : command_lines())
        EXPECT_EQ(line.find("store="), std::string::npos) << line;
    auto state = context.shared->lock();
    EXPECT_EQ(state->headline, "Laptop-7  •  WG: store=persistent");  // shown as received
    EXPECT_EQ(state->detail, "Podsieć lokalna: 192.168.7.0/24   |   Hub: -t");
}

}  // namespace
}  // namespace tarvo
