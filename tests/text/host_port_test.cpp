#include "text/host_port.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvo::text {
namespace {

TEST(SplitHostPort, AtTheLastColon) {
    const struct {
        const char* text;
        const char* host;
        std::uint16_t port;
    } rows[] = {
        {"hub.example:51820", "hub.example", 51820},
        {"192.0.2.1:0", "192.0.2.1", 0},
        {"[2001:db8::1]:65535", "2001:db8::1", 65535},
        {"2001:db8::1:443", "2001:db8::1", 443},
        {":7", "", 7},
    };
    for (const auto& row : rows) {
        const auto split = split_host_port(row.text);
        ASSERT_TRUE(split) << row.text << ": " << split.error();
        EXPECT_EQ(*split, (HostAndPort{row.host, row.port})) << row.text;
    }
}

TEST(SplitHostPort, RefusesAMissingOrBadPort) {
    EXPECT_EQ(split_host_port("hub.example").error(), "nieprawidłowy adres gniazda: brak portu");
    for (const char* text : {"hub:", "hub:65536", "hub:-1", "hub:+1", "hub:1 ", "hub:0x10", "hub:123456"}) {
        const auto split = split_host_port(text);
        ASSERT_FALSE(split) << text;
        EXPECT_EQ(split.error().rfind("nieprawidłowy numer portu '", 0), 0u) << split.error();
    }
}

}  // namespace
}  // namespace tarvo::text
