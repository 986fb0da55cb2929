#include "wg_engine/hub_endpoint.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvo {
namespace {

platform::ResolvedAddress v4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d,
                             std::uint16_t port) {
    platform::ResolvedAddress r;
    r.is_ipv4 = true;
    r.address = {a, b, c, d};
    r.port = port;
    return r;
}

platform::ResolvedAddress v6(std::uint16_t port) {
    platform::ResolvedAddress r;
    r.address = {0x20, 0x01, 0x0d, 0xb8};
    r.port = port;
    return r;
}

TEST(HubEndpoint, FirstIpv4InTheResolversOrderIsTakenFromTheTrimmedText) {
    std::string asked;
    const auto endpoint = resolve_hub_endpoint(" hub.example:51820\n", [&](std::string_view text) {
        asked = text;
        return Expected<std::vector<platform::ResolvedAddress>, std::string>(
            std::vector{v6(51820), v4(198, 51, 100, 7, 51820), v4(198, 51, 100, 8, 51820)});
    });
    EXPECT_EQ(asked, "hub.example:51820");
    ASSERT_TRUE(endpoint);
    EXPECT_EQ(*endpoint, (WgEndpoint{{198, 51, 100, 7}, 51820}));
}

TEST(HubEndpoint, ErrorsNameTheEndpointAsReceived) {
    const auto failing = resolve_hub_endpoint(" nohub:1 ", [](std::string_view) {
        return Expected<std::vector<platform::ResolvedAddress>, std::string>(
            unexpected(std::string("no such name")));
    });
    ASSERT_FALSE(failing);
    EXPECT_EQ(failing.error(), "Nie można rozwiązać adresu Huba ' nohub:1 ': no such name");

    const auto only_v6 = resolve_hub_endpoint("v6hub:1", [](std::string_view) {
        return Expected<std::vector<platform::ResolvedAddress>, std::string>(std::vector{v6(1)});
    });
    ASSERT_FALSE(only_v6);
    EXPECT_EQ(only_v6.error(), "Brak adresu IPv4 dla endpointu 'v6hub:1'");
}

TEST(HubEndpoint, TheSystemResolverTakesALiteralWithItsPortAndRefusesAMissingPort) {
    const auto literal = resolve_hub_endpoint("192.0.2.10:51820", platform::resolve_host_port);
    ASSERT_TRUE(literal) << literal.error();
    EXPECT_EQ(*literal, (WgEndpoint{{192, 0, 2, 10}, 51820}));

    const auto no_port = resolve_hub_endpoint("192.0.2.10", platform::resolve_host_port);
    ASSERT_FALSE(no_port);
    EXPECT_EQ(no_port.error(),
              "Nie można rozwiązać adresu Huba '192.0.2.10': nieprawidłowy adres gniazda: brak portu");

    const auto v6_literal = resolve_hub_endpoint("[2001:db8::1]:51820", platform::resolve_host_port);
    ASSERT_FALSE(v6_literal);
    EXPECT_EQ(v6_literal.error(), "Brak adresu IPv4 dla endpointu '[2001:db8::1]:51820'");
}

}  // namespace
}  // namespace tarvo
