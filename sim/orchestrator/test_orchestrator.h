// A real HTTPS orchestrator for tests and the simulated network. It listens
// on 127.0.0.1 with a certificate from a CA made at start, answers
// "/tarvo/api/status" and "/tarvo/api/control/sync" from a scenario that may
// be replaced while it runs, and records every request it receives.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "orchestrator/orchestrator_client.h"
#include "util/expected.h"

namespace tarvo::sim {

// One answer the orchestrator gives.
struct Answer {
    int status = 200;
    std::string body;  // sent byte for byte (before gzip, when `gzip` is set)
    std::string content_type = "application/json";
    bool gzip = false;  // send the body gzip-compressed, with Content-Encoding
    std::chrono::milliseconds delay_before_head{0};
    std::chrono::milliseconds delay_mid_body{0};  // after the first half of the body
    int redirects = 0;                            // 302 hops (on the same server) before this answer
    std::string location;                         // when set, a 302 to this URL in place of the answer
};

struct Scenario {
    Answer status;                       // "/tarvo/api/status"
    std::map<std::string, Answer> sync;  // "/tarvo/api/control/sync" by its `code` value
    Answer sync_unknown_code{403, R"({"detail":"Nieznany kod"})"};
};

struct RecordedRequest {
    std::string method;
    std::string target;   // path and query exactly as sent
    std::string version;  // "HTTP/1.1"
    int client_port = 0;  // tells one connection from another
    std::vector<std::pair<std::string, std::string>> headers;

    // The value of the header `name` (any case), or "" when absent.
    std::string header(const std::string& name) const;
    bool has_header(const std::string& name) const;
};

class TestOrchestrator {
public:
    static constexpr const char* default_host = "orchestrator.tarvo.test";

    // Starts serving on an ephemeral port of 127.0.0.1 (or `port`), with a
    // certificate valid for `host` and 127.0.0.1.
    static Expected<std::unique_ptr<TestOrchestrator>, std::string> start(Scenario scenario,
                                                                          std::string host = default_host,
                                                                          int port = 0);
    ~TestOrchestrator();

    const std::string& host() const;
    int port() const;
    // "https://{host}:{port}/tarvo"; the host must be resolved to 127.0.0.1.
    std::string base_url() const;
    // A PEM file holding the CA that issued the server's certificate.
    const std::string& ca_bundle_path() const;
    // How the client reaches this server: its base URL, trusting its CA, with
    // the host name resolved to 127.0.0.1.
    OrchestratorEndpoint endpoint() const;

    void set_scenario(Scenario scenario);
    std::vector<RecordedRequest> requests() const;
    void clear_requests();
    // Called on a server thread with each request once it is recorded.
    void on_request(std::function<void(const RecordedRequest&)> observer);

    struct Impl;

private:
    explicit TestOrchestrator(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace tarvo::sim
