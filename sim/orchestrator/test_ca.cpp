#include "test_ca.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace tarvo::sim {

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct CertFree {
    void operator()(X509* p) const { X509_free(p); }
};
struct BioFree {
    void operator()(BIO* p) const { BIO_free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

std::string openssl_error(const char* step) {
    char text[256] = "unknown error";
    if (const unsigned long code = ERR_get_error()) ERR_error_string_n(code, text, sizeof text);
    return std::string(step) + ": " + text;
}

bool add_extension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    if (!ext) return false;
    const bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

Cert new_certificate(EVP_PKEY* subject_key, const char* common_name, long serial) {
    Cert cert(X509_new());
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -60 * 60);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 7L * 24 * 60 * 60);
    X509_set_pubkey(cert.get(), subject_key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(common_name),
                               -1, -1, 0);
    return cert;
}

std::string to_pem(X509* cert) {
    std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(bio.get(), cert);
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(n));
}

std::string to_pem(EVP_PKEY* key) {
    std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(n));
}

}  // namespace

Expected<ServerCredentials, std::string> make_server_credentials(
    const std::vector<std::string>& dns_names, const std::vector<std::string>& ip_addresses) {
    Key ca_key(EVP_EC_gen("P-256"));
    Key server_key(EVP_EC_gen("P-256"));
    if (!ca_key || !server_key) return unexpected(openssl_error("key generation"));

    Cert ca = new_certificate(ca_key.get(), "Tarvo Test CA", 1);
    X509_set_issuer_name(ca.get(), X509_get_subject_name(ca.get()));
    if (!add_extension(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE") ||
        !add_extension(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign") ||
        !add_extension(ca.get(), ca.get(), NID_subject_key_identifier, "hash") ||
        X509_sign(ca.get(), ca_key.get(), EVP_sha256()) == 0) {
        return unexpected(openssl_error("CA certificate"));
    }

    std::string alt_names;
    for (const auto& name : dns_names) alt_names += (alt_names.empty() ? "DNS:" : ",DNS:") + name;
    for (const auto& ip : ip_addresses) alt_names += (alt_names.empty() ? "IP:" : ",IP:") + ip;

    const char* common_name = dns_names.empty() ? "localhost" : dns_names.front().c_str();
    Cert server = new_certificate(server_key.get(), common_name, 2);
    X509_set_issuer_name(server.get(), X509_get_subject_name(ca.get()));
    if (!add_extension(server.get(), ca.get(), NID_basic_constraints, "critical,CA:FALSE") ||
        !add_extension(server.get(), ca.get(), NID_ext_key_usage, "serverAuth") ||
        !add_extension(server.get(), ca.get(), NID_authority_key_identifier, "keyid") ||
        (!alt_names.empty() && !add_extension(server.get(), ca.get(), NID_subject_alt_name, alt_names)) ||
        X509_sign(server.get(), ca_key.get(), EVP_sha256()) == 0) {
        return unexpected(openssl_error("server certificate"));
    }

    return ServerCredentials{to_pem(ca.get()), to_pem(server.get()), to_pem(server_key.get())};
}

}  // namespace tarvo::sim
