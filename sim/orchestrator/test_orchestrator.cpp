#include "test_orchestrator.h"

#include <httplib.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>

#include "test_ca.h"
#include "text/ascii_case.h"

namespace tarvo::sim {

namespace {

constexpr std::string_view hop_prefix = "/tarvo/hop/";

// The raw value of `key` in the query of `target`, or nothing.
std::optional<std::string> query_value(std::string_view target, std::string_view key) {
    const std::size_t q = target.find('?');
    if (q == std::string_view::npos) return std::nullopt;
    std::string_view query = target.substr(q + 1);
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        if (pair.size() > key.size() && pair.starts_with(key) && pair[key.size()] == '=') {
            return std::string(pair.substr(key.size() + 1));
        }
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return std::nullopt;
}

std::string gzip(const std::string& bytes) {
    std::string out;
    httplib::detail::gzip_compressor compressor;
    compressor.compress(bytes.data(), bytes.size(), true, [&](const char* data, std::size_t n) {
        out.append(data, n);
        return true;
    });
    return out;
}

bool use_pem_credentials(SSL_CTX& ctx, const ServerCredentials& credentials) {
    BIO* cert_bio = BIO_new_mem_buf(credentials.server_certificate_pem.data(),
                                    static_cast<int>(credentials.server_certificate_pem.size()));
    BIO* key_bio = BIO_new_mem_buf(credentials.server_private_key_pem.data(),
                                   static_cast<int>(credentials.server_private_key_pem.size()));
    X509* cert = PEM_read_bio_X509(cert_bio, nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(key_bio, nullptr, nullptr, nullptr);
    const bool ok = cert && key && SSL_CTX_use_certificate(&ctx, cert) == 1 &&
                    SSL_CTX_use_PrivateKey(&ctx, key) == 1;
    X509_free(cert);
    EVP_PKEY_free(key);
    BIO_free(cert_bio);
    BIO_free(key_bio);
    return ok;
}

}  // namespace

std::string RecordedRequest::header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (text::equal_ignoring_ascii_case(key, name)) return value;
    }
    return {};
}

bool RecordedRequest::has_header(const std::string& name) const {
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto& h) { return text::equal_ignoring_ascii_case(h.first, name); });
}

struct TestOrchestrator::Impl {
    std::string host;
    int port = 0;
    std::filesystem::path folder;
    std::string ca_path;
    std::unique_ptr<httplib::SSLServer> server;
    std::thread listener;

    mutable std::mutex mutex;
    std::condition_variable stopping_changed;
    bool stopping = false;
    Scenario scenario;
    std::vector<RecordedRequest> requests;
    std::function<void(const RecordedRequest&)> observer;

    ~Impl() {
        std::error_code ignored;
        if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
    }

    // Sleeps for `delay`, ending early when the server stops.
    void pause(std::chrono::milliseconds delay) {
        if (delay.count() <= 0) return;
        std::unique_lock lock(mutex);
        stopping_changed.wait_for(lock, delay, [&] { return stopping; });
    }

    Answer answer_for(std::string_view target) const {
        const std::string_view path = target.substr(0, target.find('?'));
        std::lock_guard lock(mutex);
        if (path == "/tarvo/api/status") return scenario.status;
        if (path == "/tarvo/api/control/sync") {
            const auto code = query_value(target, "code");
            const auto found = code ? scenario.sync.find(*code) : scenario.sync.end();
            return found != scenario.sync.end() ? found->second : scenario.sync_unknown_code;
        }
        return Answer{404, ""};
    }

    void record(const httplib::Request& request) {
        RecordedRequest recorded{request.method, request.target, request.version, request.remote_port, {}};
        for (const auto& [key, value] : request.headers) {
            // The server library adds these for its own bookkeeping.
            if (key == "REMOTE_ADDR" || key == "REMOTE_PORT" || key == "LOCAL_ADDR" || key == "LOCAL_PORT")
                continue;
            recorded.headers.emplace_back(key, value);
        }
        std::function<void(const RecordedRequest&)> tell;
        {
            std::lock_guard lock(mutex);
            requests.push_back(recorded);
            tell = observer;
        }
        if (tell) tell(recorded);
    }

    void handle(const httplib::Request& request, httplib::Response& response) {
        record(request);
        std::string_view target = request.target;
        int hops_left;
        if (target.starts_with(hop_prefix)) {
            // "/tarvo/hop/{hops left}{original target}"
            target.remove_prefix(hop_prefix.size());
            const std::size_t digits = target.find('/');
            hops_left = std::atoi(std::string(target.substr(0, digits)).c_str());
            target.remove_prefix(digits == std::string_view::npos ? target.size() : digits);
        } else {
            hops_left = answer_for(target).redirects;
        }
        if (hops_left > 0) {
            response.set_redirect(std::string(hop_prefix) + std::to_string(hops_left - 1) +
                                  std::string(target));
            return;
        }
        const Answer answer = answer_for(target);
        if (!answer.location.empty()) {
            response.set_redirect(answer.location);
            return;
        }
        serve(answer, response);
    }

    void serve(const Answer& answer, httplib::Response& response) {
        pause(answer.delay_before_head);
        response.status = answer.status;
        auto body = std::make_shared<std::string>(answer.gzip ? gzip(answer.body) : answer.body);
        if (answer.gzip) response.set_header("Content-Encoding", "gzip");
        if (body->empty()) {
            response.set_header("Content-Length", "0");
            return;
        }
        // A sized provider: the library sends it as it is, never recompressed.
        const std::size_t half = answer.delay_mid_body.count() > 0 ? body->size() / 2 : body->size();
        response.set_content_provider(body->size(), answer.content_type,
                                      [this, body, half, delay = answer.delay_mid_body](
                                          std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                          if (offset == 0 && half > 0) return sink.write(body->data(), half);
                                          if (offset < body->size()) {
                                              if (offset == half) pause(delay);
                                              return sink.write(body->data() + offset, body->size() - offset);
                                          }
                                          return true;
                                      });
    }
};

TestOrchestrator::TestOrchestrator(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Expected<std::unique_ptr<TestOrchestrator>, std::string> TestOrchestrator::start(Scenario scenario,
                                                                                 std::string host, int port) {
    auto credentials = make_server_credentials({host}, {"127.0.0.1"});
    if (!credentials) return unexpected(credentials.error());

    auto impl = std::make_unique<Impl>();
    impl->host = std::move(host);
    impl->scenario = std::move(scenario);

    std::string folder_template =
        (std::filesystem::temp_directory_path() / "tarvo-orchestrator-XXXXXX").string();
    if (!mkdtemp(folder_template.data()))
        return unexpected(std::string("cannot create a folder for the test CA"));
    impl->folder = folder_template;
    impl->ca_path = (impl->folder / "ca.pem").string();
    std::ofstream(impl->ca_path) << credentials->ca_certificate_pem;

    const ServerCredentials pem = *credentials;
    impl->server = std::make_unique<httplib::SSLServer>(
        [pem](SSL_CTX& ctx) { return use_pem_credentials(ctx, pem); });
    if (!impl->server->is_valid()) return unexpected(std::string("the TLS server could not be set up"));

    // The head and the body go out in separate writes; without this each
    // answer would wait for the client's delayed acknowledgement.
    impl->server->set_tcp_nodelay(true);
    Impl* raw = impl.get();
    impl->server->Get(".*",
                      [raw](const httplib::Request& req, httplib::Response& res) { raw->handle(req, res); });
    impl->port = port == 0 ? impl->server->bind_to_any_port("127.0.0.1")
                           : (impl->server->bind_to_port("127.0.0.1", port) ? port : -1);
    if (impl->port <= 0) return unexpected(std::string("cannot listen on 127.0.0.1"));
    auto listen_ended = std::make_shared<std::atomic<bool>>(false);
    impl->listener = std::thread([raw, listen_ended] {
        raw->server->listen_after_bind();
        *listen_ended = true;
    });
    // The server can only be stopped once its accept loop runs.
    while (!impl->server->is_running() && !*listen_ended)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return std::unique_ptr<TestOrchestrator>(new TestOrchestrator(std::move(impl)));
}

TestOrchestrator::~TestOrchestrator() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
    }
    impl_->stopping_changed.notify_all();
    impl_->server->stop();
    if (impl_->listener.joinable()) impl_->listener.join();
}

const std::string& TestOrchestrator::host() const { return impl_->host; }
int TestOrchestrator::port() const { return impl_->port; }
const std::string& TestOrchestrator::ca_bundle_path() const { return impl_->ca_path; }

std::string TestOrchestrator::base_url() const {
    return "https://" + impl_->host + ":" + std::to_string(impl_->port) + "/tarvo";
}

OrchestratorEndpoint TestOrchestrator::endpoint() const {
    return {host(), base_url(), ca_bundle_path(), {{host(), port(), "127.0.0.1"}}};
}

void TestOrchestrator::set_scenario(Scenario scenario) {
    std::lock_guard lock(impl_->mutex);
    impl_->scenario = std::move(scenario);
}

std::vector<RecordedRequest> TestOrchestrator::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->requests;
}

void TestOrchestrator::on_request(std::function<void(const RecordedRequest&)> observer) {
    std::lock_guard lock(impl_->mutex);
    impl_->observer = std::move(observer);
}

void TestOrchestrator::clear_requests() {
    std::lock_guard lock(impl_->mutex);
    impl_->requests.clear();
}

}  // namespace tarvo::sim
