#include "platform/win32/root_chain_check.h"

#include <cstddef>

#include "platform/public_roots.h"

namespace tarvo::platform::win32 {

namespace {

struct ChainEngineCloser {
    void operator()(HCERTCHAINENGINE engine) const { CertFreeCertificateChainEngine(engine); }
};
using ChainEngine = std::unique_ptr<void, ChainEngineCloser>;

struct ChainCloser {
    void operator()(PCCERT_CHAIN_CONTEXT chain) const { CertFreeCertificateChain(chain); }
};
using Chain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainCloser>;

// An engine that trusts `roots` and nothing of the machine's stores.
ChainEngine exclusive_engine(HCERTSTORE roots) {
    CERT_CHAIN_ENGINE_CONFIG config{};
    // The size up to the exclusive stores: Wine refuses the full size of
    // newer headers, and the later flags field is not needed.
    config.cbSize = offsetof(CERT_CHAIN_ENGINE_CONFIG, dwExclusiveFlags);
    config.hExclusiveRoot = roots;
    HCERTCHAINENGINE engine = nullptr;
    if (!CertCreateCertificateChainEngine(&config, &engine)) return nullptr;
    return ChainEngine(engine);
}

Chain server_chain(HCERTCHAINENGINE engine, PCCERT_CONTEXT server) {
    char server_auth[] = szOID_PKIX_KP_SERVER_AUTH;
    char* usages[] = {server_auth};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!CertGetCertificateChain(engine, server, nullptr, server->hCertStore, &para, 0, nullptr, &chain)) {
        return nullptr;
    }
    return Chain(chain);
}

bool passes_ssl_policy(PCCERT_CHAIN_CONTEXT chain, const std::wstring& host) {
    HTTPSPolicyCallbackData ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = const_cast<wchar_t*>(host.c_str());
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    return CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status) &&
           status.dwError == 0;
}

}  // namespace

CertStore make_root_store(std::span<const std::span<const unsigned char>> roots) {
    CertStore store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
    if (!store) return nullptr;
    for (const auto& root : roots) {
        CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, root.data(),
                                         static_cast<DWORD>(root.size()), CERT_STORE_ADD_USE_EXISTING,
                                         nullptr);
    }
    return store;
}

CertStore make_public_root_store() { return make_root_store(public_root_certificates()); }

bool chains_to_roots(PCCERT_CONTEXT server, HCERTSTORE roots, const std::wstring& host) {
    if (!server || !roots) return false;
    const ChainEngine engine = exclusive_engine(roots);
    if (!engine) return false;
    const Chain chain = server_chain(static_cast<HCERTCHAINENGINE>(engine.get()), server);
    // The SSL policy alone passes a chain that stops short of any root (Wine
    // does), so the chain's own trust status must be clean as well.
    return chain && chain->TrustStatus.dwErrorStatus == CERT_TRUST_NO_ERROR &&
           passes_ssl_policy(chain.get(), host);
}

}  // namespace tarvo::platform::win32
