// Adds a certificate to the current user's root store, as an administrator or
// a TLS-inspecting proxy would, so that WinHTTP's own check trusts it:
//   add_user_root CERT.der
// Only for Wine prefixes made for tests; the check removes it again.
#include <windows.h>

#include <wincrypt.h>  // needs the types of windows.h first

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: add_user_root CERT.der\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<unsigned char> der((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"ROOT");
    if (!store) return 1;
    const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                        static_cast<DWORD>(der.size()),
                                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    CertCloseStore(store, 0);
    return added ? 0 : 1;
}
