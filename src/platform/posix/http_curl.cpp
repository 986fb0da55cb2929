// The HTTP seam over libcurl (OpenSSL flavour). The transfer runs through the
// multi interface on the caller's thread, so the body is handed out while it
// arrives: the write callback keeps what came (never more than the body's
// size limit) and each read hands out the next bounded piece. The transfer is
// never paused: paused while decoding gzip, libcurl would keep all that the
// rest of a compressed read decodes to, and copy it again at every pause. The
// server's
// certificate is checked against the compiled-in public roots only, never
// against the machine's CA file or folder: libcurl is given no CA at all, and
// OpenSSL gets a store of those roots. libcurl checks the chain and the host
// name during each connection's handshake, so a hop whose server fails them
// never sees the request; redirects go to HTTPS only.
#include "platform/http.h"

#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/public_roots.h"
#include "text/ascii_case.h"

namespace tarvo::platform {

namespace {

using Clock = std::chrono::steady_clock;

// The most one read hands out.
constexpr std::size_t piece_limit = 64 * 1024;

// How long past the deadline the transfer may run before this layer gives up
// on its own, should libcurl's own time-out not have fired.
constexpr auto deadline_grace = std::chrono::milliseconds(250);

void initialize_curl_once() {
    static const bool initialized = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    if (!initialized) std::abort();
}

std::string default_user_agent() {
    return std::string("libcurl/") + curl_version_info(CURLVERSION_NOW)->version;
}

// Names an extra CA file for the simulated network, where the program itself
// talks to a test orchestrator. Read by the linux build only.
constexpr const char* test_ca_bundle_variable = "TARVO_TEST_CA_BUNDLE";

struct RootStoreRelease {
    void operator()(X509_STORE* store) const { X509_STORE_free(store); }
};
using RootStore = std::unique_ptr<X509_STORE, RootStoreRelease>;

struct CertificateRelease {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
using Certificate = std::unique_ptr<X509, CertificateRelease>;

// Parsing the roots costs many times the rest of a request's TLS work, so it
// happens once per process; each request's store takes references to them.
const std::vector<Certificate>& parsed_public_roots() {
    static const std::vector<Certificate> parsed = [] {
        std::vector<Certificate> roots;
        for (const auto& root : public_root_certificates()) {
            const unsigned char* der = root.data();
            // One OpenSSL cannot read is left out.
            if (X509* certificate = d2i_X509(nullptr, &der, static_cast<long>(root.size()))) {
                roots.emplace_back(certificate);
            }
        }
        return roots;
    }();
    return parsed;
}

// The roots one request trusts: the public set, plus the CA files a test or
// the simulated network names.
Expected<RootStore, StreamError> trusted_roots(const HttpGetRequest& request) {
    RootStore store(X509_STORE_new());
    if (!store) std::abort();
    for (const Certificate& root : parsed_public_roots()) X509_STORE_add_cert(store.get(), root.get());
    std::vector<std::string> extra_files;
    if (!request.ca_bundle_path.empty()) extra_files.push_back(request.ca_bundle_path);
    if (const char* named = std::getenv(test_ca_bundle_variable); named && *named)
        extra_files.emplace_back(named);
    for (const std::string& file : extra_files) {
        if (X509_STORE_load_file(store.get(), file.c_str()) != 1) {
            ERR_clear_error();
            return unexpected(StreamError{StreamErrorKind::other, "could not read the CA file " + file});
        }
    }
    return store;
}

// A status libcurl follows when the head names a Location.
bool is_followed_redirect(long status) {
    return status == 300 || status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

class CurlTransfer final : public ByteSource {
public:
    CurlTransfer(const HttpGetRequest& request, RootStore trusted_roots)
        : trusted_roots_(std::move(trusted_roots)),
          deadline_(Clock::now() + request.deadline),
          budget_(request.deadline) {
        easy_ = curl_easy_init();
        multi_ = curl_multi_init();
        if (!easy_ || !multi_) std::abort();
        error_text_[0] = '\0';
        configure(request);
        curl_multi_add_handle(multi_, easy_);
    }

    ~CurlTransfer() override {
        curl_multi_remove_handle(multi_, easy_);
        curl_easy_cleanup(easy_);
        curl_multi_cleanup(multi_);
        curl_slist_free_all(resolve_list_);
    }

    CurlTransfer(const CurlTransfer&) = delete;
    CurlTransfer& operator=(const CurlTransfer&) = delete;

    // Runs the transfer until the final answer's head is in (true) or it has
    // ended without one (false; see failure()).
    bool await_head() {
        for (progress(); !head_complete_ && !finished_; progress()) wait();
        if (head_complete_) return true;
        if (result_ == CURLE_OK) {  // ended cleanly without a recognised head
            status_ = response_code();
            return true;
        }
        return false;
    }

    int status() const { return static_cast<int>(status_); }
    const StreamError& failure() const { return failure_; }

    Expected<std::string_view, StreamError> read() override {
        for (;;) {
            if (taken_ < pending_.size()) {
                const std::size_t n = std::min(piece_limit, pending_.size() - taken_);
                handed_out_.assign(pending_, taken_, n);
                taken_ += n;
                if (taken_ == pending_.size()) {
                    pending_.clear();
                    taken_ = 0;
                }
                return std::string_view(handed_out_);
            }
            if (finished_) {
                if (result_ != CURLE_OK) return unexpected(failure_);
                return std::string_view{};
            }
            progress();
            if (pending_.empty() && !finished_) wait();
        }
    }

private:
    void configure(const HttpGetRequest& request) {
        curl_easy_setopt(easy_, CURLOPT_URL, request.url.c_str());
        curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, error_text_);
        curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy_, CURLOPT_TIMEOUT_MS,
                         static_cast<long>(std::max<long long>(1, request.deadline.count())));
        curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "https");
        curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "https");
        curl_easy_setopt(easy_, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
        curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, 5L);
        curl_easy_setopt(easy_, CURLOPT_ACCEPT_ENCODING, "gzip");
        curl_easy_setopt(easy_, CURLOPT_USERAGENT, user_agent_.c_str());
        // An empty proxy name turns proxies off, environment variables included.
        curl_easy_setopt(easy_, CURLOPT_PROXY, "");
        curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, 2L);
        // No CA file or folder: without the store below, nothing is trusted.
        curl_easy_setopt(easy_, CURLOPT_CAINFO, nullptr);
        curl_easy_setopt(easy_, CURLOPT_CAPATH, nullptr);
        curl_easy_setopt(easy_, CURLOPT_SSL_CTX_FUNCTION, &CurlTransfer::on_ssl_context);
        curl_easy_setopt(easy_, CURLOPT_SSL_CTX_DATA, this);
        for (const HostAddress& entry : request.resolve_override) {
            const std::string line = entry.host + ":" + std::to_string(entry.port) + ":" + entry.address;
            resolve_list_ = curl_slist_append(resolve_list_, line.c_str());
        }
        if (resolve_list_) curl_easy_setopt(easy_, CURLOPT_RESOLVE, resolve_list_);
        curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CurlTransfer::on_header);
        curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlTransfer::on_body);
        curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
    }

    long response_code() const {
        long code = 0;
        curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code);
        return code;
    }

    // Lets libcurl do what it can without waiting, and collects its verdict.
    void progress() {
        int running = 0;
        curl_multi_perform(multi_, &running);
        collect_result();
    }

    // Waits for the sockets or libcurl's next timer, never past the deadline.
    void wait() {
        const auto now = Clock::now();
        if (now > deadline_ + deadline_grace) {
            finish_timed_out();
            return;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ + deadline_grace -
                                                                                now);
        curl_multi_poll(multi_, nullptr, 0, static_cast<int>(std::clamp<long long>(left.count(), 1, 1000)),
                        nullptr);
    }

    void collect_result() {
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
            if (message->msg != CURLMSG_DONE || body_too_large_) continue;
            finished_ = true;
            result_ = message->data.result;
            if (result_ != CURLE_OK) {
                failure_.kind = result_ == CURLE_OPERATION_TIMEDOUT ? StreamErrorKind::timed_out
                                                                    : StreamErrorKind::other;
                failure_.message = error_text_[0] ? error_text_ : curl_easy_strerror(result_);
            }
        }
    }

    void finish_timed_out() {
        finished_ = true;
        result_ = CURLE_OPERATION_TIMEDOUT;
        failure_.kind = StreamErrorKind::timed_out;
        failure_.message = "Operation timed out after " + std::to_string(budget_.count()) + " milliseconds";
    }

    static CURLcode on_ssl_context(CURL*, void* ssl_context, void* self_ptr) {
        auto* self = static_cast<CurlTransfer*>(self_ptr);
        SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(ssl_context), self->trusted_roots_.get());
        return CURLE_OK;
    }

    static size_t on_header(char* data, size_t size, size_t count, void* self_ptr) {
        auto* self = static_cast<CurlTransfer*>(self_ptr);
        const std::string_view line(data, size * count);
        if (line.starts_with("HTTP/")) {
            self->head_has_location_ = false;
        } else if (text::starts_with_ignoring_ascii_case(line, "location:")) {
            self->head_has_location_ = true;
        } else if (line == "\r\n" || line == "\n") {
            const long code = self->response_code();
            const bool interim = code < 200;
            const bool followed = is_followed_redirect(code) && self->head_has_location_;
            if (!interim && !followed) {
                self->head_complete_ = true;
                self->status_ = code;
            }
        }
        return size * count;
    }

    static size_t on_body(char* data, size_t size, size_t count, void* self_ptr) {
        auto* self = static_cast<CurlTransfer*>(self_ptr);
        // Refusing the piece ends the transfer, so no more of it is read or
        // decoded; the verdict is this layer's, whatever libcurl reports.
        if (size * count > max_body_bytes - self->body_bytes_) {
            self->body_too_large_ = true;
            self->finished_ = true;
            self->result_ = CURLE_WRITE_ERROR;
            self->failure_ = body_too_large();
            return 0;
        }
        self->body_bytes_ += size * count;
        self->pending_.append(data, size * count);
        return size * count;
    }

    CURL* easy_ = nullptr;
    CURLM* multi_ = nullptr;
    curl_slist* resolve_list_ = nullptr;
    char error_text_[CURL_ERROR_SIZE];
    RootStore trusted_roots_;
    std::string user_agent_ = default_user_agent();
    Clock::time_point deadline_;
    std::chrono::milliseconds budget_;

    bool head_has_location_ = false;
    bool head_complete_ = false;
    long status_ = 0;

    std::string pending_;  // received; its first `taken_` bytes are handed out
    std::size_t taken_ = 0;
    std::string handed_out_;      // the piece the last read returned
    std::size_t body_bytes_ = 0;  // decoded bytes taken so far
    bool body_too_large_ = false;

    bool finished_ = false;
    CURLcode result_ = CURLE_OK;
    StreamError failure_;
};

}  // namespace

Expected<HttpResponse, StreamError> http_get(const HttpGetRequest& request) {
    initialize_curl_once();
    auto roots = trusted_roots(request);
    if (!roots) return unexpected(roots.error());
    auto transfer = std::make_unique<CurlTransfer>(request, std::move(*roots));
    if (!transfer->await_head()) return unexpected(transfer->failure());
    HttpResponse response;
    response.status = transfer->status();
    response.body = std::move(transfer);
    return response;
}

}  // namespace tarvo::platform
