// What the WinHTTP client decides beside the shared seam, open to tests.
#pragma once

#include <windows.h>

#include <wincrypt.h>  // needs the types of windows.h first

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/http.h"

namespace tarvo::platform::win32 {

// The TLS versions to ask for: 1.2 and 1.3, or 1.2 alone where the system
// refuses the pair (before Windows 11). `offer` sets the flags and tells
// whether the system took them. None when it takes neither.
std::optional<DWORD> choose_secure_protocols(const std::function<bool(DWORD)>& offer);

// Where a request is sent: the scheme and the host name.
struct HopUrl {
    bool secure = false;  // https
    std::wstring host;

    friend bool operator==(const HopUrl&, const HopUrl&) = default;
};

// The hop a redirect from `from` leads to: `location` is a whole URL, a
// scheme-relative one ("//host/path") or a path on the same server.
HopUrl next_hop(const HopUrl& from, std::wstring_view location);

// One hop's check, made just before its request would be sent.
struct HopCheck {
    HopUrl hop;
    bool sent = false;  // passed; otherwise the request was stopped there
};
using HopObserver = std::function<void(const HopCheck&)>;

// `http_get` with `roots` in place of the compiled-in public roots, for tests
// whose servers have certificates from CAs of their own; `observe_hop`, when
// set, hears each hop's check (on WinHTTP's thread).
Expected<HttpResponse, StreamError> http_get_trusting(const HttpGetRequest& request, HCERTSTORE roots,
                                                      HopObserver observe_hop = {});

}  // namespace tarvo::platform::win32
