// The client's own chain check of a server certificate, against the chain
// engine of the system it runs on.
#include "platform/win32/root_chain_check.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "platform/public_roots.h"
#include "platform/win32/test_chain_certificates.h"

namespace tarvo::platform::win32 {
namespace {

std::vector<unsigned char> der_of(std::string_view pem) {
    DWORD size = 0;
    EXPECT_TRUE(CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                                     nullptr, &size, nullptr, nullptr));
    std::vector<unsigned char> der(size);
    EXPECT_TRUE(CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                                     der.data(), &size, nullptr, nullptr));
    der.resize(size);
    return der;
}

// The leaf as a server presents it: its context's store holds what the
// server sent along (the intermediate, when `with_intermediate`).
struct PresentedLeaf {
    CertStore sent;
    CertContext leaf;
};

PresentedLeaf present_leaf(bool with_intermediate) {
    PresentedLeaf presented{make_root_store({}), nullptr};
    if (with_intermediate) {
        const auto intermediate = der_of(test_chain::intermediate_pem);
        EXPECT_TRUE(CertAddEncodedCertificateToStore(
            presented.sent.get(), X509_ASN_ENCODING, intermediate.data(),
            static_cast<DWORD>(intermediate.size()), CERT_STORE_ADD_NEW, nullptr));
    }
    const auto leaf = der_of(test_chain::leaf_pem);
    PCCERT_CONTEXT context = nullptr;
    EXPECT_TRUE(CertAddEncodedCertificateToStore(presented.sent.get(), X509_ASN_ENCODING, leaf.data(),
                                                 static_cast<DWORD>(leaf.size()), CERT_STORE_ADD_NEW,
                                                 &context));
    presented.leaf.reset(context);
    return presented;
}

CertStore test_root_store() {
    const auto root = der_of(test_chain::root_pem);
    const std::span<const unsigned char> roots[] = {root};
    return make_root_store(roots);
}

enum class Roots { test_ca, public_set };

struct ChainCase {
    const char* name;
    Roots roots;
    bool with_intermediate;
    const wchar_t* host;
    bool trusted;
};

void PrintTo(const ChainCase& c, std::ostream* out) { *out << c.name; }

class RootChainCheck : public ::testing::TestWithParam<ChainCase> {};

TEST_P(RootChainCheck, TrustsOnlyAFullChainToTheGivenRootsForTheHost) {
    const ChainCase& c = GetParam();
    const PresentedLeaf presented = present_leaf(c.with_intermediate);
    ASSERT_TRUE(presented.leaf);
    const CertStore roots = c.roots == Roots::test_ca ? test_root_store() : make_public_root_store();
    EXPECT_EQ(chains_to_roots(presented.leaf.get(), roots.get(), c.host), c.trusted);
}

INSTANTIATE_TEST_SUITE_P(
    Chains, RootChainCheck,
    ::testing::Values(ChainCase{"ToTheTestCa", Roots::test_ca, true, L"orchestrator.tarvo.test", true},
                      ChainCase{"ForAnotherHost", Roots::test_ca, true, L"other.tarvo.test", false},
                      // The SSL policy alone accepts this partial chain under Wine.
                      ChainCase{"ToAnUnknownCa", Roots::public_set, true, L"orchestrator.tarvo.test", false},
                      ChainCase{"WithoutTheIntermediate", Roots::test_ca, false, L"orchestrator.tarvo.test",
                                false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PublicRootStore, HoldsEveryCompiledInRoot) {
    const CertStore store = make_public_root_store();
    ASSERT_TRUE(store);
    std::size_t count = 0;
    for (PCCERT_CONTEXT c = nullptr; (c = CertEnumCertificatesInStore(store.get(), c)) != nullptr;) ++count;
    EXPECT_EQ(count, public_root_certificates().size());
    PCCERT_CONTEXT isrg = CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0,
                                                     CERT_FIND_SUBJECT_STR_W, L"ISRG Root X1", nullptr);
    EXPECT_NE(isrg, nullptr);
    if (isrg) CertFreeCertificateContext(isrg);
}

}  // namespace
}  // namespace tarvo::platform::win32
