// The orchestrator client and the status check against the test orchestrator
// over real TLS on 127.0.0.1.
#include "orchestrator/orchestrator_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <thread>

#include "main/status_check.h"
#include "request_gate.h"
#include "test_ca.h"
#include "test_orchestrator.h"

namespace tarvo {
namespace {

using namespace std::chrono_literals;
using sim::Answer;
using sim::Scenario;
using sim::TestOrchestrator;

constexpr const char* kKey = "ABCD1234EFGH";
constexpr const char* kPass = "PASS-48H-ABCD1234";

const char* kDeviceAnswer =
    R"({"node_id": 17, "name": "Laptop-7", "node_type": "laptop", "reason": "Aktywny"})";
const char* kPassAnswer =
    R"({"node_id": -3, "name": "Serwis", "node_type": "pass", "pass_code": "PASS-48H-ABCD1234",
        "pass_status": "ACTIVE", "allow_l3": true, "pass_expires_at": "2025-03-01T08:15:00Z"})";
const char* kExpiredPassAnswer =
    R"({"node_id": 4, "name": "Serwis", "node_type": "pass", "pass_status": "EXPIRED",
        "allow_l3": true, "reason": "Wygasła"})";

class OrchestratorClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto started = TestOrchestrator::start(Scenario{});
        ASSERT_TRUE(started) << started.error();
        orchestrator = std::move(*started);
        endpoint = orchestrator->endpoint();
    }

    void answer(std::string code, Answer sync_answer, Answer status_answer = {200, "{}"}) {
        Scenario scenario;
        scenario.status = std::move(status_answer);
        scenario.sync[std::move(code)] = std::move(sync_answer);
        orchestrator->set_scenario(std::move(scenario));
    }

    Expected<BootstrapResult, std::string> sync(const std::string& code, SyncReport report = {}) {
        return sync_with_orchestrator(endpoint, code, report);
    }

    std::unique_ptr<TestOrchestrator> orchestrator;
    OrchestratorEndpoint endpoint;
};

TEST_F(OrchestratorClientTest, SendsTheExactQueryOnceAndReadsTheAnswer) {
    answer(kPass, {200, kPassAnswer});
    SyncReport report{true, false, true, true, 18446744073709551615ull, 0};
    auto result = sync(" pass-48h-abcd-1234 ", report);
    ASSERT_TRUE(result) << result.error();
    EXPECT_EQ(result->node_id, -3);
    EXPECT_EQ(result->pass_code, "PASS-48H-ABCD1234");

    auto requests = orchestrator->requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target,
              "/tarvo/api/control/sync?code=PASS-48H-ABCD1234&power_on=1&force_l3=0&wg_running=1"
              "&l2_running=1&rx_bytes=18446744073709551615&tx_bytes=0");
    EXPECT_EQ(requests[0].header("Accept"), "*/*");
}

TEST_F(OrchestratorClientTest, AMalformedCodeSendsNothing) {
    for (const char* code : {"", "ABC", "PASS-48H-ABC",
                             "ABCD\xE2\x80\x93"
                             "1234EFGH"}) {
        auto result = sync(code);
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error(), kMalformedCodeText);
    }
    EXPECT_TRUE(orchestrator->requests().empty());
}

struct ErrorCase {
    const char* name;
    Answer sync_answer;
    std::string expected;  // exact text, or a prefix when `prefix_only`
    bool prefix_only = false;
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class SyncErrorTest : public OrchestratorClientTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(SyncErrorTest, ReturnsTheReadyText) {
    answer(kKey, GetParam().sync_answer);
    auto result = sync(kKey);
    ASSERT_FALSE(result);
    if (GetParam().prefix_only) {
        EXPECT_EQ(result.error().rfind(GetParam().expected, 0), 0u) << result.error();
    } else {
        EXPECT_EQ(result.error(), GetParam().expected);
    }
    // One request per call; redirect hops are followed up to five.
    const int hops = std::min(GetParam().sync_answer.redirects, 5);
    EXPECT_EQ(orchestrator->requests().size(), static_cast<std::size_t>(hops + 1));
}

INSTANTIATE_TEST_SUITE_P(
    Table, SyncErrorTest,
    ::testing::Values(
        ErrorCase{"DetailString",
                  {403, R"({"detail": "Urządzenie zablokowane"})"},
                  "Urządzenie zablokowane (HTTP 403)"},
        ErrorCase{"DetailList",
                  {422, R"({"detail": [{"loc": ["query", "code"], "msg": "x"}]})"},
                  "Błąd serwera Orkiestratora (HTTP 422)"},
        ErrorCase{"HtmlPage",
                  {500, "<html><body>Internal Server Error</body></html>", "text/html"},
                  "Błąd serwera Orkiestratora (HTTP 500)"},
        ErrorCase{"EmptyBadGateway", {502, ""}, "Błąd serwera Orkiestratora (HTTP 502)"},
        // From 400 on the body is an error body, even one a record could be read from.
        ErrorCase{"DetailAt400", {400, R"({"detail": "Zły kod", "node_id": 17})"}, "Zły kod (HTTP 400)"},
        ErrorCase{"RecordAt400", {400, kDeviceAnswer}, "Błąd serwera Orkiestratora (HTTP 400)"},
        ErrorCase{"DetailAt401", {401, R"({"detail": "Brak dostępu"})"}, "Brak dostępu (HTTP 401)"},
        ErrorCase{"EmptyOk",
                  {200, ""},
                  "Błąd parsowania JSON: Failed to read JSON: EOF while parsing a value at line 1 column 0"},
        ErrorCase{"MalformedOk",
                  {200, "{\"node_id\": 1,\n \"name\": null}"},
                  "Błąd parsowania JSON: Failed to read JSON: invalid type: null, expected a string "
                  "at line 2 column 13"},
        ErrorCase{"SixRedirects",
                  {200, kDeviceAnswer, "application/json", false, 0ms, 0ms, 6},
                  "Brak odpowiedzi Orkiestratora: ",
                  true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(OrchestratorClientTest, AnAnswerBelow400IsReadAsTheRecord) {
    answer(kKey, {399, kDeviceAnswer});
    auto result = sync(kKey);
    ASSERT_TRUE(result) << result.error();
    EXPECT_EQ(result->node_id, 17);
}

TEST_F(OrchestratorClientTest, FollowsFiveRedirectsAndDecodesGzip) {
    answer(kKey, {200, kDeviceAnswer, "application/json", true, 0ms, 0ms, 5});
    auto result = sync(kKey);
    ASSERT_TRUE(result) << result.error();
    EXPECT_EQ(result->name, "Laptop-7");
    EXPECT_EQ(orchestrator->requests().size(), 6u);
}

// `{"name":"xx...x"}` of exactly `size` bytes.
std::string long_name_answer(std::size_t size) {
    return R"({"name":")" + std::string(size - 11, 'x') + "\"}";
}

// An answer that goes on past the HTTP client's size limit is a failed
// request, whatever its status; one of exactly the limit is read. (A list of
// empty links would cost the most memory per byte, and its reading time
// under the sanitizers would meet the 6-s deadline first.)
TEST_F(OrchestratorClientTest, AnAnswerPastTheSizeLimitIsNoAnswer) {
    const std::string too_large =
        "Brak odpowiedzi Orkiestratora: the answer's body is larger than 1048576 bytes";
    Answer bomb{200, "{\"links\":[{}" + std::string(std::size_t{16} << 20, ' ') + "]}"};
    bomb.gzip = true;
    const struct {
        const char* name;
        Answer sync_answer;
    } rows[] = {
        {"gzip bomb", bomb},
        {"a name one byte past the limit", {200, long_name_answer(platform::max_body_bytes + 1)}},
        {"an error detail past the limit",
         {403, R"({"detail":")" + std::string(2 * platform::max_body_bytes, 'x') + "\"}"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        answer(kKey, row.sync_answer);
        auto result = sync(kKey);
        ASSERT_FALSE(result) << "read with a name of " << result->name.size() << " bytes";
        EXPECT_EQ(result.error(), too_large);
    }

    answer(kKey, {200, long_name_answer(platform::max_body_bytes)});
    auto result = sync(kKey);
    ASSERT_TRUE(result) << result.error();
    EXPECT_EQ(result->name.size(), platform::max_body_bytes - 11);
}

TEST_F(OrchestratorClientTest, ACertificateFromAnUnknownCaIsRefused) {
    auto other = sim::make_server_credentials({orchestrator->host()}, {"127.0.0.1"});
    ASSERT_TRUE(other) << other.error();
    const auto other_ca = std::filesystem::path(orchestrator->ca_bundle_path()).parent_path() /
                          "unknown-ca.pem";
    std::ofstream(other_ca) << other->ca_certificate_pem;
    endpoint.ca_bundle_path = other_ca.string();

    answer(kKey, {200, kDeviceAnswer});
    auto result = sync(kKey);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().rfind("Brak odpowiedzi Orkiestratora: ", 0), 0u) << result.error();
    EXPECT_FALSE(is_orchestrator_reachable(endpoint));
}

TEST_F(OrchestratorClientTest, ReachableMeansAFinalStatusBelow400) {
    struct Case {
        Answer status;
        bool reachable;
    };
    const Case cases[] = {
        {{200, "ok"}, true},
        {{204, ""}, true},
        {{399, ""}, true},
        {{400, ""}, false},
        {{401, ""}, false},
        {{404, "missing"}, false},
        {{503, ""}, false},
        {{200, "ok", "text/plain", false, 0ms, 0ms, 1}, true},  // a redirect to a page that answers 200
        {{200, "ok", "text/plain", false, 0ms, 0ms, 5}, true},
        {{200, "ok", "text/plain", false, 0ms, 0ms, 6}, false},
    };
    for (const Case& c : cases) {
        answer(kKey, {200, "{}"}, c.status);
        EXPECT_EQ(is_orchestrator_reachable(endpoint), c.reachable)
            << c.status.status << " after " << c.status.redirects << " redirects";
    }
}

// The status check, publishing into the shared state.
class StatusCheckTest : public OrchestratorClientTest {
protected:
    std::shared_ptr<SharedState> shared_with_code(const std::string& code) {
        ClientConfig config;
        config.DeviceCode = code;
        return create_shared_state(config);
    }

    static StatusCard card(SharedState& shared) { return shared.lock()->orchestrator_card; }
    static std::vector<LogEntry> log(SharedState& shared) { return shared.lock()->log; }
};

TEST_F(StatusCheckTest, ADeviceAnswerSetsTheCardAndLogsTheFirstSuccessOnce) {
    answer(kKey, {200, kDeviceAnswer});
    auto shared = shared_with_code("abcd-1234-efgh");
    check_orchestrator_status(*shared, endpoint);
    check_orchestrator_status(*shared, endpoint);

    const StatusCard c = card(*shared);
    EXPECT_TRUE(c.online);
    EXPECT_FALSE(c.standby);
    EXPECT_EQ(c.text, "HTTPS OK (ID #17)");
    const auto entries = log(*shared);
    ASSERT_EQ(entries.size(), 2u);  // the start line, then one success line
    EXPECT_EQ(entries[1].text, "Połączono z Orkiestratorem " + endpoint.base_url +
                                   " (Węzeł 'Laptop-7' ID #17, Stan: Aktywny).");
    EXPECT_EQ(entries[1].level, LogLevel::success);
    EXPECT_EQ(orchestrator->requests()[0].target,
              std::string("/tarvo/api/control/sync?code=") + kKey +
                  "&power_on=0&force_l3=0&wg_running=0&l2_running=0&rx_bytes=0&tx_bytes=0");
}

TEST_F(StatusCheckTest, SendsTheStoredModeWithEverythingElseOff) {
    for (const bool force_l3 : {false, true}) {
        answer(kKey, {200, kDeviceAnswer});
        orchestrator->clear_requests();
        ClientConfig config;
        config.DeviceCode = kKey;
        config.ForceL3 = force_l3;
        check_orchestrator_status(*create_shared_state(config), endpoint);
        const auto requests = orchestrator->requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].target, std::string("/tarvo/api/control/sync?code=") + kKey +
                                          "&power_on=0&force_l3=" + (force_l3 ? "1" : "0") +
                                          "&wg_running=0&l2_running=0&rx_bytes=0&tx_bytes=0");
    }
}

TEST_F(StatusCheckTest, AnEmptyReasonIsShownEmpty) {
    const struct {
        const char* code;
        const char* body;
        std::string line;
    } rows[] = {
        {kKey, R"({"node_id": 17, "name": "Laptop-7", "reason": ""})", "(Węzeł 'Laptop-7' ID #17, Stan: )."},
        {kPass, R"({"node_id": 5, "name": "Serwis", "node_type": "pass", "allow_l3": true, "reason": ""})",
         "Rozpoznano przepustkę serwisową 'Serwis' (ID #5, ważna do: aktywna UTC, stan: )."},
    };
    for (const auto& row : rows) {
        answer(row.code, {200, row.body});
        auto shared = shared_with_code(row.code);
        check_orchestrator_status(*shared, endpoint);
        const auto entries = log(*shared);
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_TRUE(entries[1].text.ends_with(row.line)) << entries[1].text;
    }
}

// Every outcome writes both flags: each row starts from a card that shows the
// opposite of what it must end with.
TEST_F(StatusCheckTest, EachOutcomeSetsBothFlagsWhateverTheCardShowedBefore) {
    const struct {
        const char* name;
        std::string code;
        Answer sync_answer;
        Answer status_answer;
        bool online;
        bool standby;
        std::string text;
    } rows[] = {
        {"device answered", kKey, {200, kDeviceAnswer}, {200, "ok"}, true, false, "HTTPS OK (ID #17)"},
        {"blocked pass answered",
         kPass,
         {200, kExpiredPassAnswer},
         {200, "ok"},
         true,
         true,
         "PASS OK (ID #4)"},
        {"refused, reachable", kKey, {403, ""}, {200, "ok"}, true, true, "Nieznany kod / PASS"},
        {"refused, unreachable", kKey, {403, ""}, {404, ""}, false, false, "Brak łączności HTTPS"},
        {"malformed, reachable",
         "not a code",
         {},
         {200, "ok"},
         true,
         false,
         "HTTPS " + endpoint.host + " OK"},
        {"malformed, unreachable", "not a code", {}, {503, ""}, false, false, "Brak łączności HTTPS"},
        {"empty, reachable at 399", "", {}, {399, ""}, true, false, "HTTPS " + endpoint.host + " OK"},
        {"empty, unreachable at 400", "", {}, {400, ""}, false, false, "Brak łączności HTTPS"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        answer(row.code, row.sync_answer, row.status_answer);
        auto shared = shared_with_code(row.code);
        {
            auto state = shared->lock();
            state->orchestrator_card.online = !row.online;
            state->orchestrator_card.standby = !row.standby;
        }
        check_orchestrator_status(*shared, endpoint);
        const StatusCard c = card(*shared);
        EXPECT_EQ(c.online, row.online);
        EXPECT_EQ(c.standby, row.standby);
        EXPECT_EQ(c.text, row.text);
    }
}

TEST_F(StatusCheckTest, PassAnswersShowPassOkAndTheirExpiry) {
    struct Case {
        const char* body;
        bool standby;
        std::string text;
        std::string line;
        LogLevel level;
    };
    const Case cases[] = {
        {kPassAnswer, false, "PASS OK (ID #-3)",
         "Rozpoznano przepustkę serwisową 'Serwis' (ID #-3, ważna do: 2025-03-01 08:15 UTC, stan: OK).",
         LogLevel::success},
        {kExpiredPassAnswer, true, "PASS OK (ID #4)",
         "Rozpoznano przepustkę serwisową 'Serwis' (ID #4, ważna do: aktywna UTC, stan: Wygasła).",
         LogLevel::warning},
    };
    for (const Case& c : cases) {
        answer(kPass, {200, c.body});
        auto shared = shared_with_code(kPass);
        check_orchestrator_status(*shared, endpoint);
        const StatusCard got = card(*shared);
        EXPECT_TRUE(got.online);
        EXPECT_EQ(got.standby, c.standby);
        EXPECT_EQ(got.text, c.text);
        const auto entries = log(*shared);
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[1].text, c.line);
        EXPECT_EQ(entries[1].level, c.level);
    }
}

TEST_F(StatusCheckTest, ARefusedCodeOnAReachableOrchestratorWarnsOnlyOnce) {
    answer(kKey, {403, R"({"detail": "Nieznany kod"})"});
    auto shared = shared_with_code(kKey);
    for (int i = 0; i < 3; ++i) check_orchestrator_status(*shared, endpoint);

    const StatusCard c = card(*shared);
    EXPECT_TRUE(c.online);
    EXPECT_TRUE(c.standby);
    EXPECT_EQ(c.text, "Nieznany kod / PASS");
    const auto entries = log(*shared);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].text, "Orkiestrator osiągalny, ale: Nieznany kod (HTTP 403)");
    EXPECT_EQ(entries[1].level, LogLevel::warning);
}

TEST_F(StatusCheckTest, ARefusedCodeOnAnUnreachableOrchestratorLogsNothing) {
    answer(kKey, {500, ""}, {404, ""});
    auto shared = shared_with_code(kKey);
    {
        auto state = shared->lock();
        state->orchestrator_card.online = true;
    }
    check_orchestrator_status(*shared, endpoint);
    const StatusCard c = card(*shared);
    EXPECT_FALSE(c.online);
    EXPECT_FALSE(c.standby);
    EXPECT_EQ(c.text, "Brak łączności HTTPS");
    EXPECT_EQ(log(*shared).size(), 1u);
    EXPECT_FALSE(shared->lock()->status_logged);
}

TEST_F(StatusCheckTest, AMalformedCodeOnlyAsksForReachability) {
    auto shared = shared_with_code("not a code");
    answer(kKey, {200, kDeviceAnswer}, {200, "ok"});
    check_orchestrator_status(*shared, endpoint);
    check_orchestrator_status(*shared, endpoint);
    StatusCard c = card(*shared);
    EXPECT_TRUE(c.online);
    EXPECT_FALSE(c.standby);
    EXPECT_EQ(c.text, "HTTPS " + endpoint.host + " OK");
    EXPECT_EQ(log(*shared).size(), 1u);

    answer(kKey, {200, kDeviceAnswer}, {503, ""});
    check_orchestrator_status(*shared, endpoint);
    c = card(*shared);
    EXPECT_FALSE(c.online);
    EXPECT_EQ(c.text, "Brak łączności HTTPS");

    for (const auto& request : orchestrator->requests()) EXPECT_EQ(request.target, "/tarvo/api/status");
    EXPECT_FALSE(shared->lock()->status_logged);
}

TEST_F(StatusCheckTest, ASlowOrchestratorTimesOutAtSixThenFiveSeconds) {
    answer(kKey, {200, kDeviceAnswer, "application/json", false, 7s}, {200, "ok", "text/plain", false, 7s});
    auto shared = shared_with_code(kKey);
    const auto started = std::chrono::steady_clock::now();
    check_orchestrator_status(*shared, endpoint);
    const auto took = std::chrono::steady_clock::now() - started;

    // Neither request waited for its answer (7 s): both deadlines are
    // shorter. Both ran out in turn, so the check took at least 6 + 5 s;
    // a slow machine only makes that longer.
    const StatusCard c = card(*shared);
    EXPECT_FALSE(c.online);
    EXPECT_EQ(c.text, "Brak łączności HTTPS");
    EXPECT_GE(took, 10500ms);
    EXPECT_EQ(orchestrator->requests().size(), 2u);
}

TEST_F(StatusCheckTest, TheLockIsFreeWhileARequestIsInFlight) {
    answer(kKey, {200, kDeviceAnswer});
    auto shared = shared_with_code(kKey);
    testing::RequestGate gate(*orchestrator, "/tarvo/api/control/sync", testing::RequestGate::Answers::held);
    std::thread check([&] { check_orchestrator_status(*shared, endpoint); });
    const auto arrived = gate.arrival("the status check's sync request");
    EXPECT_TRUE(arrived) << arrived.report;
    {
        // Would wait for the request (until its deadline) if the check held the lock.
        auto state = shared->lock();
        EXPECT_EQ(state->orchestrator_card.text, "Sprawdzanie...");
    }
    gate.open();
    check.join();
    EXPECT_EQ(card(*shared).text, "HTTPS OK (ID #17)");
}

}  // namespace
}  // namespace tarvo
