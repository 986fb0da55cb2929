// One HTTPS GET request, as the orchestrator client sends it.
//
// Every call builds a fresh client with the library's defaults and drops it
// at the end, so no connection, cookie or cache outlives its request. The
// request carries the client's default user agent and "Accept: */*", accepts
// gzip (and decodes it), follows up to 5 redirects (a 6th is a failure), never
// uses a proxy (proxy environment variables are ignored), speaks TLS 1.2 and
// 1.3 only, and on every hop verifies the server's certificate and host name,
// with server name indication, against the compiled-in public roots
// (platform/public_roots.h) before any byte of the request is sent; the
// machine's store alone never makes a server trusted. A request that starts
// on HTTPS follows redirects only to HTTPS. An answer's body is read up to
// `max_body_bytes`, after decoding.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "util/byte_source.h"
#include "util/expected.h"

namespace tarvo::platform {

// Answers name resolution of `host`:`port` with `address`.
struct HostAddress {
    std::string host;
    int port = 0;
    std::string address;
};

struct HttpGetRequest {
    std::string url;
    // Bounds the whole request: name resolution, connection, TLS handshake,
    // sending, the answer's head and the reading of its body.
    std::chrono::milliseconds deadline{0};

    // Only for tests and the simulated network; the program leaves both empty.
    // The linux build also trusts these PEM roots (so does the program there
    // when TARVO_TEST_CA_BUNDLE names a file); the Windows build ignores both.
    std::string ca_bundle_path;
    std::vector<HostAddress> resolve_override;  // skip name resolution for these hosts (linux build)
};

// The most of an answer's body, after gzip decoding, that either client reads.
// A real sync answer is about 1 KiB plus some 170 bytes per link, so this
// holds several thousand links; a body of empty links that fits in it costs
// the answer's reader about 100 MiB, four times that would cost 400 MiB.
inline constexpr std::size_t max_body_bytes = 1024 * 1024;

// The failure of a body that goes on past `max_body_bytes`.
inline StreamError body_too_large() {
    return {StreamErrorKind::too_large,
            "the answer's body is larger than " + std::to_string(max_body_bytes) + " bytes"};
}

struct HttpResponse {
    int status = 0;  // the final status, after redirects
    // The answer's body as it arrives; read it before the deadline passes
    // (a read after that fails with StreamErrorKind::timed_out). Past
    // `max_body_bytes` the transfer ends and the read fails with
    // `body_too_large()`.
    std::unique_ptr<ByteSource> body;
};

// The final answer's head and its body stream, or, when no answer's head
// arrived in time, the failure with the HTTP library's own description
// (kind timed_out when the deadline passed).
Expected<HttpResponse, StreamError> http_get(const HttpGetRequest& request);

}  // namespace tarvo::platform
