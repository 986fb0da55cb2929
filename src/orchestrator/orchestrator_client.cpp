#include "orchestrator/orchestrator_client.h"

#include <chrono>
#include <optional>

#include "orchestrator/access_code.h"
#include "orchestrator/bootstrap_reader.h"
#include "orchestrator/endpoint.h"

namespace tarvo {

namespace {

using namespace std::chrono_literals;

constexpr auto kSyncDeadline = 6s;
constexpr auto kStatusDeadline = 5s;

const char* flag(bool value) { return value ? "1" : "0"; }

platform::HttpGetRequest request_for(const OrchestratorEndpoint& endpoint, std::string_view path,
                                     std::chrono::milliseconds deadline) {
    platform::HttpGetRequest request;
    request.url = endpoint.base_url;
    request.url += path;
    request.deadline = deadline;
    request.ca_bundle_path = endpoint.ca_bundle_path;
    request.resolve_override = endpoint.resolve_override;
    return request;
}

// The answer's body, remembering a cut-off at the HTTP client's size limit:
// such an answer is a failed request, not a fault of its text.
class LimitedBody final : public ByteSource {
public:
    explicit LimitedBody(ByteSource& body) : body_(body) {}

    Expected<std::string_view, StreamError> read() override {
        auto piece = body_.read();
        if (!piece && piece.error().kind == StreamErrorKind::too_large) too_large_ = piece.error();
        return piece;
    }

    const std::optional<StreamError>& too_large() const { return too_large_; }

private:
    ByteSource& body_;
    std::optional<StreamError> too_large_;
};

std::string no_answer_text(const StreamError& error) {
    return "Brak odpowiedzi Orkiestratora: " + error.message;
}

std::string server_error_text(int status, ByteSource& body) {
    const std::string http = " (HTTP " + std::to_string(status) + ")";
    if (auto detail = read_error_detail(body)) return *detail + http;
    return "Błąd serwera Orkiestratora" + http;
}

}  // namespace

const OrchestratorEndpoint& production_orchestrator() {
    static const OrchestratorEndpoint endpoint{
        std::string(orchestrator_host()), std::string(orchestrator_base_url()), {}, {}};
    return endpoint;
}

std::string sync_path(std::string_view normalized_code, const SyncReport& report) {
    std::string path = "/api/control/sync?code=";
    path += normalized_code;
    path += "&power_on=";
    path += flag(report.power_on);
    path += "&force_l3=";
    path += flag(report.force_l3);
    path += "&wg_running=";
    path += flag(report.wg_running);
    path += "&l2_running=";
    path += flag(report.l2_running);
    path += "&rx_bytes=" + std::to_string(report.rx_bytes);
    path += "&tx_bytes=" + std::to_string(report.tx_bytes);
    return path;
}

Expected<BootstrapResult, std::string> sync_with_orchestrator(const OrchestratorEndpoint& endpoint,
                                                              std::string_view code,
                                                              const SyncReport& report) {
    const std::string normalized = normalize_access_code(code);
    if (!is_valid_access_code(normalized)) return unexpected(std::string(kMalformedCodeText));

    auto response = platform::http_get(request_for(endpoint, sync_path(normalized, report), kSyncDeadline));
    if (!response) return unexpected(no_answer_text(response.error()));

    LimitedBody body(*response->body);
    if (response->status >= 400) {
        std::string text = server_error_text(response->status, body);
        if (body.too_large()) return unexpected(no_answer_text(*body.too_large()));
        return unexpected(std::move(text));
    }

    auto result = read_bootstrap_result(body);
    if (body.too_large()) return unexpected(no_answer_text(*body.too_large()));
    if (!result) return unexpected("Błąd parsowania JSON: " + result.error().text);
    return std::move(*result);
}

bool is_orchestrator_reachable(const OrchestratorEndpoint& endpoint) {
    auto response = platform::http_get(request_for(endpoint, "/api/status", kStatusDeadline));
    return response && response->status < 400;
}

}  // namespace tarvo
