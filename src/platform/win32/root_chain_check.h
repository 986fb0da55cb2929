// The client's own check of a TLS server's certificate against a fixed set of
// roots, beside WinHTTP's check against the machine's store: a root that an
// administrator or a TLS-inspecting proxy added to that store is not in the set.
#pragma once

#include <windows.h>

#include <wincrypt.h>  // needs the types of windows.h first

#include <memory>
#include <span>
#include <string>

namespace tarvo::platform::win32 {

struct CertStoreCloser {
    void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
using CertStore = std::unique_ptr<void, CertStoreCloser>;

struct CertContextFreer {
    void operator()(PCCERT_CONTEXT context) const { CertFreeCertificateContext(context); }
};
using CertContext = std::unique_ptr<const CERT_CONTEXT, CertContextFreer>;

// An in-memory store holding the DER-encoded certificates `roots`; one the
// system cannot read is left out.
CertStore make_root_store(std::span<const std::span<const unsigned char>> roots);

// The compiled-in public roots (platform/public_roots.h) as a store.
CertStore make_public_root_store();

// True when `server`, with the certificates the server sent along with it
// (the context's own store), builds a chain to one of `roots` whose trust
// status is clean and which passes the SSL policy for `host`.
bool chains_to_roots(PCCERT_CONTEXT server, HCERTSTORE roots, const std::wstring& host);

}  // namespace tarvo::platform::win32
