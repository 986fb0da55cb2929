#include "wg_engine/ipv4_cidr.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvo {
namespace {

TEST(ParseIpv4Cidr, NetworksAndPrefixes) {
    const struct {
        const char* text;
        const char* route;
    } rows[] = {
        {"10.200.0.0/24", "10.200.0.0/24"},
        {"10.1.2.77/16", "10.1.0.0/16"},
        {"10.1.2.3", "10.1.2.3/32"},
        {"10.1.2.3/40", "10.1.2.3/32"},
        {"10.1.2.3/255", "10.1.2.3/32"},
        {"10.1.2.3/0", "0.0.0.0/0"},
        {"10.1.2.3/+8", "10.0.0.0/8"},
        {"10.1.2.3/008", "10.0.0.0/8"},
        {"192.0.2.255/31", "192.0.2.254/31"},
        {" 10.1.2.3 / 24 ", "10.1.2.0/24"},
        {"\u00a010.1.2.3/1\u2003", "0.0.0.0/1"},
        {"255.255.255.255/32", "255.255.255.255/32"},
        {"0.0.0.0/0", "0.0.0.0/0"},
    };
    for (const auto& row : rows) {
        const auto cidr = parse_ipv4_cidr(row.text);
        ASSERT_TRUE(cidr) << row.text;
        EXPECT_EQ(format_ipv4_cidr(*cidr), row.route) << row.text;
    }
}

TEST(ParseIpv4Cidr, AnythingButADottedQuadAndAByteGivesNothing) {
    for (const char* text :
         {"10.1.2.3/",     "10.1.2.3/256",  "10.1.2.3/-1",     "10.1.2.3/++1", "10.1.2.3/8/8",
          "10.1.2.3/0x10", "2001:db8::/32", "::ffff:10.1.2.3", "hub.example",  "",
          "/24",           "10.1.2",        "10.1.2.3.4",      "10.1.2.256",   "10.01.2.3",
          "010.1.2.3",     "1e1.1.2.3",     "10..2.3",         ".10.1.2",      "10.1.2.",
          "+10.1.2.3",     "10.1.2. 3",     "0x0a.1.2.3",      "10.1.2.3 4/8", "1000.1.2.3"}) {
        EXPECT_FALSE(parse_ipv4_cidr(text)) << text;
    }
    EXPECT_FALSE(parse_ipv4_cidr(std::string("10.1.2.3\0/8", 11)));
}

}  // namespace
}  // namespace tarvo
