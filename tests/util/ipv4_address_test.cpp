// Only a strict dotted quad is an address: such a text can be handed to a
// command line or a script without letting anything else through.
#include "util/ipv4_address.h"

#include <vector>

#include <gtest/gtest.h>

namespace {

using tarvo::Ipv4Address;

TEST(DottedIpv4, ReadsOnlyFourPlainDecimalOctets) {
    const std::vector<std::pair<std::string, std::optional<Ipv4Address>>> cases = {
        {"10.200.0.7", Ipv4Address{{10, 200, 0, 7}}},
        {"0.0.0.0", Ipv4Address{{0, 0, 0, 0}}},
        {"255.255.255.255", Ipv4Address{{255, 255, 255, 255}}},
        {"256.0.0.1", std::nullopt},
        {"1000.0.0.1", std::nullopt},
        {"01.2.3.4", std::nullopt},
        {"1.2.3", std::nullopt},
        {"1.2.3.4.5", std::nullopt},
        {"1..3.4", std::nullopt},
        {" 1.2.3.4", std::nullopt},
        {"1.2.3.4 ", std::nullopt},
        {"+1.2.3.4", std::nullopt},
        {"1.2.3.4/24", std::nullopt},
        {"10.0.0.1; Remove-Item C:\\ -Recurse", std::nullopt},
        {"10.0.0.1'}; calc; #", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(tarvo::parse_dotted_ipv4(text), expected) << text;
}

TEST(DottedIpv4, WritesBackTheSameText) {
    for (const char* text : {"10.200.0.7", "0.0.0.0", "255.255.255.255", "192.168.12.10"}) {
        EXPECT_EQ(tarvo::to_dotted(*tarvo::parse_dotted_ipv4(text)), text);
    }
}

}  // namespace
