// The TLS versions the WinHTTP client asks for, through a recording stand-in
// for the option call, and where a redirect leads; the Wine checks run both
// against real servers.
#include "platform/win32/http_winhttp.h"

#include <gtest/gtest.h>
#include <winhttp.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "platform/win32/wide_text.h"

namespace tarvo::platform::win32 {
namespace {

constexpr DWORD tls_1_2 = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
constexpr DWORD tls_1_3 = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;

struct ProtocolCase {
    const char* name;
    std::vector<DWORD> taken;  // what the system accepts
    std::vector<DWORD> offered;
    std::optional<DWORD> chosen;
};

class SecureProtocols : public ::testing::TestWithParam<ProtocolCase> {};

TEST_P(SecureProtocols, AsksForTls12And13ThenTls12Alone) {
    std::vector<DWORD> offered;
    const auto chosen = choose_secure_protocols([&](DWORD flags) {
        offered.push_back(flags);
        return std::find(GetParam().taken.begin(), GetParam().taken.end(), flags) != GetParam().taken.end();
    });
    EXPECT_EQ(offered, GetParam().offered);
    EXPECT_EQ(chosen, GetParam().chosen);
}

INSTANTIATE_TEST_SUITE_P(
    Systems, SecureProtocols,
    ::testing::Values(
        ProtocolCase{"Windows11", {tls_1_2 | tls_1_3, tls_1_2}, {tls_1_2 | tls_1_3}, tls_1_2 | tls_1_3},
        ProtocolCase{"Windows10", {tls_1_2}, {tls_1_2 | tls_1_3, tls_1_2}, tls_1_2},
        ProtocolCase{"NeitherTaken", {}, {tls_1_2 | tls_1_3, tls_1_2}, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// The host each hop's certificate must name follows the redirects.
TEST(NextHop, FollowsTheLocationOfARedirect) {
    const HopUrl from{true, L"orchestrator.tarvo.test"};
    const struct {
        const wchar_t* location;
        HopUrl next;
    } rows[] = {
        {L"https://other.tarvo.test:8443/tarvo/api/status", {true, L"other.tarvo.test"}},
        {L"http://orchestrator.tarvo.test/tarvo/api/status", {false, L"orchestrator.tarvo.test"}},
        {L"HTTPS://Other.Tarvo.Test/x", {true, L"Other.Tarvo.Test"}},
        {L"/tarvo/hop/3/tarvo/api/status", from},
        {L"api/status", from},
        {L"//third.tarvo.test/tarvo", {true, L"third.tarvo.test"}},
    };
    for (const auto& row : rows) {
        const HopUrl next = next_hop(from, row.location);
        EXPECT_EQ(next.secure, row.next.secure) << from_wide(row.location);
        EXPECT_TRUE(next.host == row.next.host) << from_wide(row.location);
    }
    EXPECT_FALSE(next_hop({false, L"h"}, L"//other/x").secure);
}

}  // namespace
}  // namespace tarvo::platform::win32
