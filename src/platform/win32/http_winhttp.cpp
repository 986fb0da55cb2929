// The HTTP seam over WinHTTP, in its asynchronous mode, so that one overall
// deadline bounds every phase: each step is started and then waited for with
// the time that is left; when the time is up the request handle is closed,
// which cancels whatever is pending. The per-phase time-outs are also set to
// the time left, as a second bound. WinHTTP checks the server's certificate
// against the machine's store; before the answer is read, its chain must also
// lead to one of the compiled-in public roots. The test-only request options
// (CA bundle, resolve override) have no counterpart here and are ignored.
#include "platform/http.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <array>
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

// What the status callback reports back to the waiting thread.
struct Completion {
    HANDLE step_done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD error = 0;
    DWORD bytes_read = 0;
    int redirects = 0;  // followed so far

    ~Completion() {
        CloseHandle(step_done);
        CloseHandle(closed);
    }
};

void CALLBACK on_status(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
    auto* completion = reinterpret_cast<Completion*>(context);
    if (!completion) return;
    switch (status) {
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
        case WINHTTP_CALLBACK_STATUS_REDIRECT: ++completion->redirects; break;
        case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING: SetEvent(completion->closed); break;
        default: break;
    }
}

class WinHttpTransfer final : public ByteSource {
public:
    explicit WinHttpTransfer(std::chrono::milliseconds deadline) : deadline_(Clock::now() + deadline) {}

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

        session_ = WinHttpOpen(user_agent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
        if (!session_) return unexpected(failure(GetLastError()));
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
                             WINHTTP_CALLBACK_FLAG_REDIRECT;
        if (WinHttpSetStatusCallback(request_, on_status, events, 0) == WINHTTP_INVALID_STATUS_CALLBACK) {
            return unexpected(failure(GetLastError()));
        }
        callback_installed_ = true;

        bound_phases();
        if (!WinHttpSendRequest(request_, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                                reinterpret_cast<DWORD_PTR>(&completion_))) {
            return unexpected(failure(GetLastError()));
        }
        if (auto done = await_step(); !done) return done;

        bound_phases();
        if (!WinHttpReceiveResponse(request_, nullptr)) return unexpected(failure(GetLastError()));
        if (auto done = await_step(); !done) return done;
        // WinHTTP enforces the limit itself; count as well, since not every
        // implementation of the API honours the option.
        if (completion_.redirects > max_redirects) return unexpected(failure(ERROR_WINHTTP_REDIRECT_FAILED));
        if (secure) {
            if (auto trusted = check_server_chain(); !trusted) return trusted;
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
        return std::string_view(buffer_.data(), completion_.bytes_read);
    }

private:
    // Refused as WinHTTP refuses a certificate itself.
    Status<StreamError> check_server_chain() const {
        PCCERT_CONTEXT server = nullptr;
        DWORD size = sizeof server;
        if (!WinHttpQueryOption(request_, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &server, &size) || !server) {
            return unexpected(failure(ERROR_WINHTTP_SECURE_FAILURE));
        }
        const win32::CertContext owned(server);
        const win32::CertStore roots = win32::make_public_root_store();
        if (!win32::chains_to_roots(server, roots.get(), final_host())) {
            return unexpected(failure(ERROR_WINHTTP_SECURE_FAILURE));
        }
        return Unit{};
    }

    // The host the answer came from, after any redirects; empty if unknown.
    std::wstring final_host() const {
        DWORD bytes = 0;
        WinHttpQueryOption(request_, WINHTTP_OPTION_URL, nullptr, &bytes);
        std::wstring url(bytes / sizeof(wchar_t), L'\0');
        if (url.empty() || !WinHttpQueryOption(request_, WINHTTP_OPTION_URL, url.data(), &bytes)) return {};
        url.resize(bytes / sizeof(wchar_t));
        URL_COMPONENTS parts{};
        parts.dwStructSize = sizeof parts;
        parts.dwHostNameLength = static_cast<DWORD>(-1);
        if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return {};
        return std::wstring(parts.lpszHostName, parts.dwHostNameLength);
    }

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
        if (completion_.error != 0) return unexpected(step_failure(completion_.error));
        return Unit{};
    }

    // A step that fails once the deadline has passed failed because of it,
    // whatever the transport calls it (a socket time-out, for instance).
    StreamError step_failure(DWORD code) const {
        StreamError error = failure(code);
        if (time_left().count() == 0) error.kind = StreamErrorKind::timed_out;
        return error;
    }

    // Closing cancels a pending step; the callback may still run until
    // WinHTTP reports the handle closed.
    void close_request() {
        WinHttpCloseHandle(request_);
        if (callback_installed_) WaitForSingleObject(completion_.closed, INFINITE);
        request_ = nullptr;
    }

    Expected<std::string_view, StreamError> fail(StreamError error) {
        failed_ = error;
        return unexpected(std::move(error));
    }

    Clock::time_point deadline_;
    HINTERNET session_ = nullptr;
    HINTERNET connection_ = nullptr;
    HINTERNET request_ = nullptr;
    bool callback_installed_ = false;
    Completion completion_;
    int status_ = 0;
    std::array<char, read_buffer_size> buffer_{};
    bool ended_ = false;
    std::optional<StreamError> failed_;
};

}  // namespace

Expected<HttpResponse, StreamError> http_get(const HttpGetRequest& request) {
    auto transfer = std::make_unique<WinHttpTransfer>(request.deadline);
    if (auto started = transfer->start(request.url); !started) return unexpected(started.error());
    HttpResponse response;
    response.status = transfer->status();
    response.body = std::move(transfer);
    return response;
}

}  // namespace tarvo::platform
