// The HTTP seam against the test orchestrator over real TLS on 127.0.0.1.
#include "platform/http.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "test_ca.h"
#include "test_orchestrator.h"

namespace tarvo {
namespace {

using namespace std::chrono_literals;
using platform::http_get;
using platform::HttpGetRequest;
using sim::Answer;
using sim::Scenario;
using sim::TestOrchestrator;

Expected<std::string, StreamError> read_all(ByteSource& source, std::size_t* largest_piece = nullptr) {
    std::string out;
    for (;;) {
        auto piece = source.read();
        if (!piece) return unexpected(piece.error());
        if (piece->empty()) return out;
        if (largest_piece) *largest_piece = std::max(*largest_piece, piece->size());
        out.append(*piece);
    }
}

std::string sample_body(std::size_t size) {
    std::string body;
    body.reserve(size);
    for (std::size_t i = 0; body.size() < size; ++i) body += "{\"n\":" + std::to_string(i) + "},";
    body.resize(size);
    return body;
}

class HttpGetTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto started = TestOrchestrator::start(Scenario{});
        ASSERT_TRUE(started) << started.error();
        orchestrator = std::move(*started);
    }

    void answer_status(Answer answer) {
        Scenario scenario;
        scenario.status = std::move(answer);
        orchestrator->set_scenario(std::move(scenario));
    }

    HttpGetRequest request(const std::string& path, std::chrono::milliseconds deadline = 5s) const {
        HttpGetRequest r;
        r.url = orchestrator->base_url() + path;
        r.deadline = deadline;
        r.ca_bundle_path = orchestrator->ca_bundle_path();
        r.resolve_override = {{orchestrator->host(), orchestrator->port(), "127.0.0.1"}};
        return r;
    }

    std::unique_ptr<TestOrchestrator> orchestrator;
};

struct StatusCase {
    int status;
    std::string body;
};

class HttpStatusTest : public HttpGetTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(HttpStatusTest, ReturnsFinalStatusAndExactBody) {
    answer_status({GetParam().status, GetParam().body});
    auto response = http_get(request("/api/status"));
    ASSERT_TRUE(response) << response.error().message;
    EXPECT_EQ(response->status, GetParam().status);
    auto body = read_all(*response->body);
    ASSERT_TRUE(body) << body.error().message;
    EXPECT_EQ(*body, GetParam().body);
}

INSTANTIATE_TEST_SUITE_P(Answers, HttpStatusTest,
                         ::testing::Values(StatusCase{200, R"({"status":"ok"})"}, StatusCase{200, ""},
                                           StatusCase{404, ""},
                                           StatusCase{500, "<html><body>Internal Server Error</body></html>"},
                                           StatusCase{200, std::string("\0\xff\x01 raw", 7)}));

TEST_F(HttpGetTest, SendsOnlyTheDefaultHeadersAndTheExactTarget) {
    answer_status({200, "{}"});
    const std::string path =
        "/api/control/sync?code=PASS-48H-ABCD1234&power_on=0&rx_bytes=18446744073709551615";
    orchestrator->set_scenario(Scenario{});
    auto response = http_get(request(path));
    ASSERT_TRUE(response) << response.error().message;

    const auto requests = orchestrator->requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& sent = requests[0];
    EXPECT_EQ(sent.method, "GET");
    EXPECT_EQ(sent.target, "/tarvo" + path);
    EXPECT_EQ(sent.header("Host"), orchestrator->host() + ":" + std::to_string(orchestrator->port()));
    EXPECT_EQ(sent.header("Accept"), "*/*");
    EXPECT_EQ(sent.header("Accept-Encoding"), "gzip");
    EXPECT_TRUE(sent.header("User-Agent").starts_with("libcurl/")) << sent.header("User-Agent");
    std::vector<std::string> names;
    for (const auto& [name, value] : sent.headers) names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"Accept", "Accept-Encoding", "Host", "User-Agent"}));
}

TEST_F(HttpGetTest, EveryRequestOpensItsOwnConnection) {
    answer_status({200, "{}"});
    for (int i = 0; i < 2; ++i) {
        auto response = http_get(request("/api/status"));
        ASSERT_TRUE(response) << response.error().message;
        ASSERT_TRUE(read_all(*response->body));
    }
    const auto requests = orchestrator->requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[0].client_port, requests[1].client_port);
}

TEST_F(HttpGetTest, FollowsFiveRedirectsToTheFinalAnswer) {
    Answer answer{200, R"({"reachable":true})"};
    answer.redirects = 5;
    answer_status(answer);
    auto response = http_get(request("/api/status"));
    ASSERT_TRUE(response) << response.error().message;
    EXPECT_EQ(response->status, 200);
    EXPECT_EQ(read_all(*response->body).value(), R"({"reachable":true})");
    EXPECT_EQ(orchestrator->requests().size(), 6u);
    EXPECT_EQ(orchestrator->requests().back().target, "/tarvo/hop/0/tarvo/api/status");
}

TEST_F(HttpGetTest, RefusesASixthRedirect) {
    Answer answer{200, "{}"};
    answer.redirects = 6;
    answer_status(answer);
    auto response = http_get(request("/api/status"));
    ASSERT_FALSE(response);
    EXPECT_EQ(response.error().kind, StreamErrorKind::other);
    EXPECT_NE(response.error().message.find("redirect"), std::string::npos) << response.error().message;
    EXPECT_EQ(orchestrator->requests().size(), 6u);
}

TEST_F(HttpGetTest, DecodesAGzipBody) {
    const std::string body = sample_body(300 * 1024);
    Answer answer{200, body};
    answer.gzip = true;
    answer_status(answer);
    auto response = http_get(request("/api/status"));
    ASSERT_TRUE(response) << response.error().message;
    EXPECT_EQ(read_all(*response->body).value(), body);
}

// The body is handed out while it arrives, in bounded pieces, not gathered;
// a body of exactly the size limit is read whole.
TEST_F(HttpGetTest, StreamsALargeBodyInBoundedPieces) {
    const std::string body = sample_body(platform::max_body_bytes);
    answer_status({200, body});
    auto response = http_get(request("/api/status"));
    ASSERT_TRUE(response) << response.error().message;
    std::size_t largest = 0;
    EXPECT_EQ(read_all(*response->body, &largest).value(), body);
    EXPECT_LE(largest, 128u * 1024);
}

// Past the limit on the decoded body the read fails and nothing more is
// handed out: a plain body one byte too long, and a gzip bomb whose few
// compressed kilobytes decode to 16 MiB.
TEST_F(HttpGetTest, ABodyPastTheSizeLimitFailsTheRead) {
    struct Case {
        const char* name;
        std::size_t decoded_size;
        bool gzip;
    };
    for (const Case& c : {Case{"plain", platform::max_body_bytes + 1, false},
                          Case{"gzip bomb", std::size_t{16} << 20, true}}) {
        SCOPED_TRACE(c.name);
        Answer answer{200, std::string(c.decoded_size, ' ')};
        answer.gzip = c.gzip;
        answer_status(std::move(answer));
        auto response = http_get(request("/api/status", 30s));
        ASSERT_TRUE(response) << response.error().message;
        std::size_t handed_out = 0;
        Expected<std::string_view, StreamError> piece;
        while ((piece = response->body->read()) && !piece->empty()) handed_out += piece->size();
        ASSERT_FALSE(piece) << "read " << handed_out << " bytes to the end";
        EXPECT_EQ(piece.error().kind, StreamErrorKind::too_large);
        EXPECT_EQ(piece.error().message, "the answer's body is larger than 1048576 bytes");
        EXPECT_LE(handed_out, platform::max_body_bytes);
        EXPECT_FALSE(response->body->read()) << "the stream goes on after its failure";
    }
}

TEST_F(HttpGetTest, DeadlineBeforeTheHeadIsATimeOut) {
    Answer answer{200, "{}"};
    answer.delay_before_head = 10s;
    answer_status(answer);
    auto response = http_get(request("/api/status", 300ms));
    ASSERT_FALSE(response);
    EXPECT_EQ(response.error().kind, StreamErrorKind::timed_out) << response.error().message;
}

TEST_F(HttpGetTest, DeadlineWhileReadingTheBodyFailsTheStream) {
    Answer answer{200, R"({"node_id":1,"name":"a"})"};
    answer.delay_mid_body = 10s;
    answer_status(answer);
    auto response = http_get(request("/api/status", 500ms));
    ASSERT_TRUE(response) << response.error().message;
    EXPECT_EQ(response->status, 200);
    auto body = read_all(*response->body);
    ASSERT_FALSE(body);
    EXPECT_EQ(body.error().kind, StreamErrorKind::timed_out) << body.error().message;
}

TEST_F(HttpGetTest, IgnoresProxyEnvironmentVariables) {
    answer_status({200, "{}"});
    const char* names[] = {"https_proxy", "HTTPS_PROXY", "http_proxy", "ALL_PROXY", "all_proxy"};
    for (const char* name : names) setenv(name, "http://127.0.0.1:9", 1);  // nothing listens there
    auto response = http_get(request("/api/status"));
    for (const char* name : names) unsetenv(name);
    ASSERT_TRUE(response) << response.error().message;
    EXPECT_EQ(response->status, 200);
    EXPECT_EQ(orchestrator->requests().size(), 1u);
}

TEST_F(HttpGetTest, RefusesACertificateFromAnUnknownCa) {
    auto other = sim::make_server_credentials({orchestrator->host()}, {"127.0.0.1"});
    ASSERT_TRUE(other) << other.error();
    const auto other_ca = std::filesystem::path(orchestrator->ca_bundle_path()).parent_path() /
                          "other-ca.pem";
    std::ofstream(other_ca) << other->ca_certificate_pem;

    for (const std::string& bundle :
         {other_ca.string(), std::string()}) {  // another CA, the public roots only
        HttpGetRequest r = request("/api/status");
        r.ca_bundle_path = bundle;
        auto response = http_get(r);
        ASSERT_FALSE(response) << "trusted with bundle '" << bundle << "'";
        EXPECT_EQ(response.error().kind, StreamErrorKind::other);
        EXPECT_NE(response.error().message.find("certificate"), std::string::npos)
            << response.error().message;
    }
    EXPECT_TRUE(orchestrator->requests().empty());
}

// The program names no CA of its own; in the simulated network it trusts the
// test CA only through the environment variable.
TEST_F(HttpGetTest, TrustsTheCaTheTestVariableNames) {
    answer_status({200, "{}"});
    HttpGetRequest r = request("/api/status");
    r.ca_bundle_path.clear();
    setenv("TARVO_TEST_CA_BUNDLE", orchestrator->ca_bundle_path().c_str(), 1);
    auto trusted = http_get(r);
    unsetenv("TARVO_TEST_CA_BUNDLE");
    ASSERT_TRUE(trusted) << trusted.error().message;
    EXPECT_EQ(trusted->status, 200);

    auto refused = http_get(r);
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().message.find("certificate"), std::string::npos) << refused.error().message;
    EXPECT_EQ(orchestrator->requests().size(), 1u);
}

// OpenSSL's own CA variables name the machine's store; they add nothing.
TEST_F(HttpGetTest, IgnoresOpenSslsCaEnvironmentVariables) {
    HttpGetRequest r = request("/api/status");
    r.ca_bundle_path.clear();
    const std::string ca_folder =
        std::filesystem::path(orchestrator->ca_bundle_path()).parent_path().string();
    setenv("SSL_CERT_FILE", orchestrator->ca_bundle_path().c_str(), 1);
    setenv("SSL_CERT_DIR", ca_folder.c_str(), 1);
    auto response = http_get(r);
    unsetenv("SSL_CERT_FILE");
    unsetenv("SSL_CERT_DIR");
    ASSERT_FALSE(response);
    EXPECT_NE(response.error().message.find("certificate"), std::string::npos) << response.error().message;
}

TEST_F(HttpGetTest, AnUnreadableCaFileFailsTheRequest) {
    for (const bool through_variable : {false, true}) {
        HttpGetRequest r = request("/api/status");
        const std::string missing = orchestrator->ca_bundle_path() + ".missing";
        if (through_variable) {
            setenv("TARVO_TEST_CA_BUNDLE", missing.c_str(), 1);
        } else {
            r.ca_bundle_path = missing;
        }
        auto response = http_get(r);
        unsetenv("TARVO_TEST_CA_BUNDLE");
        ASSERT_FALSE(response);
        EXPECT_NE(response.error().message.find(missing), std::string::npos) << response.error().message;
    }
    EXPECT_TRUE(orchestrator->requests().empty());
}

TEST_F(HttpGetTest, RefusesACertificateForAnotherHostName) {
    HttpGetRequest r = request("/api/status");
    r.url = "https://other.tarvo.test:" + std::to_string(orchestrator->port()) + "/tarvo/api/status";
    r.resolve_override = {{"other.tarvo.test", orchestrator->port(), "127.0.0.1"}};
    auto response = http_get(r);
    ASSERT_FALSE(response);
    EXPECT_NE(response.error().message.find("other.tarvo.test"), std::string::npos)
        << response.error().message;
    EXPECT_TRUE(orchestrator->requests().empty());
}

// libcurl checks the chain and the host name in each hop's handshake, so a
// redirect to a server the roots do not vouch for, or whose certificate does
// not name the host, is refused before that server sees a request.
TEST_F(HttpGetTest, EveryHopIsCheckedBeforeItsRequestIsSent) {
    auto started = TestOrchestrator::start(Scenario{}, "other.tarvo.test");
    ASSERT_TRUE(started) << started.error();
    auto other = std::move(*started);
    Scenario other_scenario;
    other_scenario.status = {200, R"({"hop":"other"})"};
    other->set_scenario(other_scenario);

    const auto both_cas = std::filesystem::path(orchestrator->ca_bundle_path()).parent_path() /
                          "both-cas.pem";
    {
        std::ostringstream pem;
        pem << std::ifstream(orchestrator->ca_bundle_path()).rdbuf()
            << std::ifstream(other->ca_bundle_path()).rdbuf();
        std::ofstream(both_cas) << pem.str();
    }
    const std::string other_port = std::to_string(other->port());

    struct Case {
        const char* name;
        std::string location;
        std::string bundle;
        bool reaches_other;
    };
    const Case cases[] = {
        {"the other CA trusted too", other->base_url() + "/api/status", both_cas.string(), true},
        {"the other CA not trusted", other->base_url() + "/api/status", orchestrator->ca_bundle_path(),
         false},
        {"a host the certificate does not name",
         "https://third.tarvo.test:" + other_port + "/tarvo/api/status", both_cas.string(), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        orchestrator->clear_requests();
        other->clear_requests();
        Answer redirect;
        redirect.location = c.location;
        answer_status(redirect);
        HttpGetRequest r = request("/api/status");
        r.ca_bundle_path = c.bundle;
        r.resolve_override.push_back({"other.tarvo.test", other->port(), "127.0.0.1"});
        r.resolve_override.push_back({"third.tarvo.test", other->port(), "127.0.0.1"});
        auto response = http_get(r);
        EXPECT_EQ(orchestrator->requests().size(), 1u);
        if (c.reaches_other) {
            ASSERT_TRUE(response) << response.error().message;
            EXPECT_EQ(read_all(*response->body).value(), R"({"hop":"other"})");
            EXPECT_EQ(other->requests().size(), 1u);
        } else {
            ASSERT_FALSE(response);
            EXPECT_EQ(response.error().kind, StreamErrorKind::other);
            EXPECT_TRUE(other->requests().empty());
        }
    }
}

TEST_F(HttpGetTest, NeverFollowsARedirectToPlainHttp) {
    httplib::Server plain;
    std::atomic<int> plain_requests{0};
    plain.Get(".*", [&](const httplib::Request&, httplib::Response& res) {
        ++plain_requests;
        res.set_content("{}", "application/json");
    });
    const int port = plain.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    std::thread serving([&] { plain.listen_after_bind(); });
    const auto waited_from = std::chrono::steady_clock::now();
    while (!plain.is_running() && std::chrono::steady_clock::now() - waited_from < 30s)
        std::this_thread::sleep_for(1ms);
    if (!plain.is_running()) {
        serving.join();  // the accept loop never started, so it has ended
        FAIL() << "the plain server on port " << port << " did not start serving within 30 s";
    }

    Answer redirect;
    redirect.location = "http://127.0.0.1:" + std::to_string(port) + "/tarvo/api/status";
    answer_status(redirect);
    auto response = http_get(request("/api/status"));
    plain.stop();
    serving.join();

    ASSERT_FALSE(response) << "answered " << response->status;
    EXPECT_EQ(response.error().kind, StreamErrorKind::other);
    EXPECT_NE(response.error().message.find("http"), std::string::npos) << response.error().message;
    EXPECT_EQ(plain_requests, 0);
    EXPECT_EQ(orchestrator->requests().size(), 1u);
}

TEST_F(HttpGetTest, ConnectionRefusedIsATransportFailure) {
    HttpGetRequest r = request("/api/status");
    const int port = orchestrator->port();
    orchestrator.reset();  // nothing listens on the port any more
    r.resolve_override = {{TestOrchestrator::default_host, port, "127.0.0.1"}};
    auto response = http_get(r);
    ASSERT_FALSE(response);
    EXPECT_EQ(response.error().kind, StreamErrorKind::other);
    EXPECT_FALSE(response.error().message.empty());
}

}  // namespace
}  // namespace tarvo
