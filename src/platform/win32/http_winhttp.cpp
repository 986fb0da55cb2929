// The HTTP seam over WinHTTP, in its asynchronous mode, so that one overall
// deadline bounds every phase: each step is started and then waited for with
// the time that is left; when the time is up the request handle is closed,
// which cancels whatever is pending. The per-phase time-outs are also set to
// the time left, as a second bound. WinHTTP checks the server's certificate
// against the machine's store; the client's own check runs when WinHTTP is
// about to send a hop's request, after that hop's handshake: the chain must
// lead to one of the compiled-in public roots and name the hop's host, or the
// request handle is closed there, which stops the send. The hop's host is
// followed through the redirect notifications, since not every WinHTTP
// answers WINHTTP_OPTION_URL (Wine 8 does not). The test-only request
// options (CA bundle, resolve override) have no counterpart here and are
// ignored.
#include "platform/win32/http_winhttp.h"

#include <winhttp.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <optional>

#include "platform/os_error.h"
#include "platform/win32/root_chain_check.h"
#include "platform/win32/wide_text.h"

namespace tarvo::platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr wchar_t user_agent[] = L"WinHTTP";
constexpr std::size_t read_buffer_size = 64 * 1024;
constexpr int max_redirects = 5;

StreamError failure(DWORD code) {
    const bool timed_out = code == ERROR_WINHTTP_TIMEOUT;
    return {timed_out ? StreamErrorKind::timed_out : StreamErrorKind::other,
            describe(os_error(static_cast<int>(code)))};
}

// What the status callback reports back to the waiting thread, and what it
// needs to check each hop before its request goes out.
struct Completion {
    HANDLE step_done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD error = 0;
    DWORD bytes_read = 0;
    int redirects = 0;  // followed so far

    HCERTSTORE roots = nullptr;
    bool started_secure = false;
    win32::HopUrl hop;  // where the next request goes: the URL, then each redirect's target
    win32::HopObserver observe_hop;
    std::atomic<int> hops_checked{0};  // secure hops whose server passed the check
    std::atomic<DWORD> refusal{0};     // why a hop's request was not sent
    // Whoever sets this closes the request handle: the waiting thread at the
    // deadline, or the callback refusing a hop.
    std::atomic<bool> close_claimed{false};

    ~Completion() {
        CloseHandle(step_done);
        CloseHandle(closed);
    }
};

std::optional<win32::HopUrl> crack_hop(const std::wstring& url) {
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) return std::nullopt;
    return win32::HopUrl{parts.nScheme == INTERNET_SCHEME_HTTPS,
                         std::wstring(parts.lpszHostName, parts.dwHostNameLength)};
}

// Why the request about to go out on `request` to `completion.hop` must not
// be sent, or 0. A secure hop goes only to a server whose chain leads to the
// roots and names the hop's host; a request that started on HTTPS never
// leaves it, whatever the redirect policy of this WinHTTP.
DWORD hop_refusal(HINTERNET request, Completion& completion) {
    const win32::HopUrl& hop = completion.hop;
    if (!hop.secure) return completion.started_secure ? ERROR_WINHTTP_REDIRECT_FAILED : 0;
    PCCERT_CONTEXT server = nullptr;
    DWORD size = sizeof server;
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &server, &size) || !server) {
        return ERROR_WINHTTP_SECURE_FAILURE;
    }
    const win32::CertContext owned(server);
    if (!win32::chains_to_roots(server, completion.roots, hop.host)) return ERROR_WINHTTP_SECURE_FAILURE;
    ++completion.hops_checked;
    return 0;
}

// Closing the handle in the callback is how a send is stopped before it
// starts; the waiting thread learns why from `refusal`.
void refuse(HINTERNET request, Completion& completion, DWORD code) {
    completion.refusal = code;
    if (!completion.close_claimed.exchange(true)) WinHttpCloseHandle(request);
    SetEvent(completion.step_done);
}

void CALLBACK on_status(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
    auto* completion = reinterpret_cast<Completion*>(context);
    if (!completion) return;
    switch (status) {
        case WINHTTP_CALLBACK_STATUS_SENDING_REQUEST: {
            const DWORD refused = hop_refusal(handle, *completion);
            if (completion->observe_hop) completion->observe_hop({completion->hop, refused == 0});
            if (refused != 0) refuse(handle, *completion, refused);
            break;
        }
        case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
            completion->error = 0;
            SetEvent(completion->step_done);
            break;
        case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
            completion->error = 0;
            completion->bytes_read = length;
            SetEvent(completion->step_done);
            break;
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
            completion->error = static_cast<WINHTTP_ASYNC_RESULT*>(info)->dwError;
            SetEvent(completion->step_done);
            break;
        case WINHTTP_CALLBACK_STATUS_REDIRECT:
            ++completion->redirects;
            if (info) completion->hop = win32::next_hop(completion->hop, static_cast<const wchar_t*>(info));
            break;
        case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING: SetEvent(completion->closed); break;
        default: break;
    }
}

class WinHttpTransfer final : public ByteSource {
public:
    WinHttpTransfer(std::chrono::milliseconds deadline, HCERTSTORE roots, win32::HopObserver observe_hop)
        : deadline_(Clock::now() + deadline), roots_(roots ? CertDuplicateStore(roots) : nullptr) {
        completion_.roots = roots_.get();
        completion_.observe_hop = std::move(observe_hop);
    }

    ~WinHttpTransfer() override {
        if (request_) close_request();
        if (connection_) WinHttpCloseHandle(connection_);
        if (session_) WinHttpCloseHandle(session_);
    }

    WinHttpTransfer(const WinHttpTransfer&) = delete;
    WinHttpTransfer& operator=(const WinHttpTransfer&) = delete;

    // Sends the request and waits for the final answer's head.
    Status<StreamError> start(const std::string& url) {
        const std::wstring wide_url = win32::to_wide(url);
        URL_COMPONENTS parts{};
        parts.dwStructSize = sizeof parts;
        parts.dwHostNameLength = static_cast<DWORD>(-1);
        parts.dwUrlPathLength = static_cast<DWORD>(-1);
        parts.dwExtraInfoLength = static_cast<DWORD>(-1);
        if (!WinHttpCrackUrl(wide_url.c_str(), 0, 0, &parts)) return unexpected(failure(GetLastError()));
        const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
        const std::wstring target = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                                    std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
        const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
        completion_.started_secure = secure;
        completion_.hop = {secure, host};

        session_ = WinHttpOpen(user_agent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
        if (!session_) return unexpected(failure(GetLastError()));
        const auto protocols = win32::choose_secure_protocols([this](DWORD flags) {
            return WinHttpSetOption(session_, WINHTTP_OPTION_SECURE_PROTOCOLS, &flags, sizeof flags) != FALSE;
        });
        if (!protocols) return unexpected(failure(GetLastError()));
        DWORD decompression = WINHTTP_DECOMPRESSION_FLAG_GZIP;
        WinHttpSetOption(session_, WINHTTP_OPTION_DECOMPRESSION, &decompression, sizeof decompression);
        DWORD redirects = max_redirects;
        WinHttpSetOption(session_, WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &redirects, sizeof redirects);

        connection_ = WinHttpConnect(session_, host.c_str(), parts.nPort, 0);
        if (!connection_) return unexpected(failure(GetLastError()));

        const wchar_t* accept_types[] = {L"*/*", nullptr};
        request_ = WinHttpOpenRequest(connection_, L"GET", target.c_str(), nullptr, WINHTTP_NO_REFERER,
                                      accept_types, secure ? WINHTTP_FLAG_SECURE : 0);
        if (!request_) return unexpected(failure(GetLastError()));
        DWORD disabled = WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_KEEP_ALIVE;
        WinHttpSetOption(request_, WINHTTP_OPTION_DISABLE_FEATURE, &disabled, sizeof disabled);
        DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&completion_);
        if (!WinHttpSetOption(request_, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context)) {
            return unexpected(failure(GetLastError()));
        }
        const DWORD events = WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES |
                             WINHTTP_CALLBACK_FLAG_REDIRECT | WINHTTP_CALLBACK_FLAG_SEND_REQUEST;
        if (WinHttpSetStatusCallback(request_, on_status, events, 0) == WINHTTP_INVALID_STATUS_CALLBACK) {
            return unexpected(failure(GetLastError()));
        }
        callback_installed_ = true;

        bound_phases();
        if (!WinHttpSendRequest(request_, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                                reinterpret_cast<DWORD_PTR>(&completion_))) {
            return unexpected(step_failure(GetLastError()));
        }
        if (auto done = await_step(); !done) return done;

        bound_phases();
        if (!WinHttpReceiveResponse(request_, nullptr)) return unexpected(step_failure(GetLastError()));
        if (auto done = await_step(); !done) return done;
        // WinHTTP enforces the limit itself; count as well, since not every
        // implementation of the API honours the option.
        if (completion_.redirects > max_redirects) return unexpected(failure(ERROR_WINHTTP_REDIRECT_FAILED));
        // Every hop of a secure request passed the check before it was sent;
        // one that went out unchecked (no sending callback) fails the answer.
        if (secure && completion_.hops_checked < completion_.redirects + 1) {
            return unexpected(failure(ERROR_WINHTTP_SECURE_FAILURE));
        }

        DWORD status = 0;
        DWORD size = sizeof status;
        if (!WinHttpQueryHeaders(request_, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
            return unexpected(failure(GetLastError()));
        }
        status_ = static_cast<int>(status);
        return Unit{};
    }

    int status() const { return status_; }

    Expected<std::string_view, StreamError> read() override {
        if (failed_) return unexpected(*failed_);
        if (ended_) return std::string_view{};
        if (!request_) return fail(failure(ERROR_WINHTTP_TIMEOUT));
        bound_phases();
        if (!WinHttpReadData(request_, buffer_.data(), static_cast<DWORD>(buffer_.size()), nullptr)) {
            return fail(step_failure(GetLastError()));
        }
        if (auto done = await_step(); !done) return fail(done.error());
        if (completion_.bytes_read == 0) {
            ended_ = true;
            return std::string_view{};
        }
        if (completion_.bytes_read > max_body_bytes - body_bytes_) {
            close_request();  // no more of it is read
            return fail(body_too_large());
        }
        body_bytes_ += completion_.bytes_read;
        return std::string_view(buffer_.data(), completion_.bytes_read);
    }

private:
    std::chrono::milliseconds time_left() const {
        return std::max(std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()),
                        std::chrono::milliseconds(0));
    }

    // Every per-phase time-out of the next step is the time left overall.
    void bound_phases() {
        const int left = static_cast<int>(std::max<long long>(1, time_left().count()));
        WinHttpSetTimeouts(request_, left, left, left, left);
        DWORD response_timeout = static_cast<DWORD>(left);
        WinHttpSetOption(request_, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response_timeout,
                         sizeof response_timeout);
    }

    // Waits for the pending step; when the deadline passes first, cancels
    // the request by closing its handle.
    Status<StreamError> await_step() {
        const DWORD waited = WaitForSingleObject(completion_.step_done,
                                                 static_cast<DWORD>(time_left().count()));
        if (waited != WAIT_OBJECT_0) {
            close_request();
            return unexpected(failure(ERROR_WINHTTP_TIMEOUT));
        }
        if (completion_.refusal != 0 || completion_.error != 0) {
            return unexpected(step_failure(completion_.error));
        }
        return Unit{};
    }

    // A hop refused before sending is why its step failed, whatever WinHTTP
    // reports once the handle is closed. A step that fails once the deadline
    // has passed failed because of it, whatever the transport calls it (a
    // socket time-out, for instance).
    StreamError step_failure(DWORD code) const {
        if (const DWORD refused = completion_.refusal; refused != 0) return failure(refused);
        StreamError error = failure(code);
        if (time_left().count() == 0) error.kind = StreamErrorKind::timed_out;
        return error;
    }

    // Closing cancels a pending step; the callback may still run until
    // WinHTTP reports the handle closed.
    void close_request() {
        if (!completion_.close_claimed.exchange(true)) WinHttpCloseHandle(request_);
        if (callback_installed_) WaitForSingleObject(completion_.closed, INFINITE);
        request_ = nullptr;
    }

    Expected<std::string_view, StreamError> fail(StreamError error) {
        failed_ = error;
        return unexpected(std::move(error));
    }

    Clock::time_point deadline_;
    win32::CertStore roots_;
    HINTERNET session_ = nullptr;
    HINTERNET connection_ = nullptr;
    HINTERNET request_ = nullptr;
    bool callback_installed_ = false;
    Completion completion_;
    int status_ = 0;
    std::array<char, read_buffer_size> buffer_{};
    std::size_t body_bytes_ = 0;  // decoded bytes handed out so far
    bool ended_ = false;
    std::optional<StreamError> failed_;
};

}  // namespace

namespace win32 {

HopUrl next_hop(const HopUrl& from, std::wstring_view location) {
    std::wstring url(location);
    if (url.starts_with(L"//")) url.insert(0, from.secure ? L"https:" : L"http:");
    return crack_hop(url).value_or(from);
}

std::optional<DWORD> choose_secure_protocols(const std::function<bool(DWORD)>& offer) {
    constexpr DWORD tls_1_2 = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
    constexpr DWORD tls_1_2_and_1_3 = tls_1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
    for (const DWORD flags : {tls_1_2_and_1_3, tls_1_2}) {
        if (offer(flags)) return flags;
    }
    return std::nullopt;
}

Expected<HttpResponse, StreamError> http_get_trusting(const HttpGetRequest& request, HCERTSTORE roots,
                                                      HopObserver observe_hop) {
    auto transfer = std::make_unique<WinHttpTransfer>(request.deadline, roots, std::move(observe_hop));
    if (auto started = transfer->start(request.url); !started) return unexpected(started.error());
    HttpResponse response;
    response.status = transfer->status();
    response.body = std::move(transfer);
    return response;
}

}  // namespace win32

Expected<HttpResponse, StreamError> http_get(const HttpGetRequest& request) {
    const win32::CertStore roots = win32::make_public_root_store();
    return win32::http_get_trusting(request, roots.get());
}

}  // namespace tarvo::platform
