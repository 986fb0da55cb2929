#include "wg_engine/tunnel_shape.h"

#include <gtest/gtest.h>

namespace tarvo {
namespace {

BootstrapResult answer(const char* node_type, std::vector<const char*> modes, bool pass = false) {
    BootstrapResult r;
    r.node_type = node_type;
    if (pass) r.pass_code = "PASS-48H-ABCD1234";
    for (const char* mode : modes) {
        LinkInfo link;
        link.mode = mode;
        r.links.push_back(link);
    }
    return r;
}

TEST(TunnelStatusLabel, FirstRowThatAppliesWins) {
    const struct {
        BootstrapResult result;
        bool force_l3;
        const char* label;
    } cases[] = {
        {answer("pass", {"L2", "L3"}), false, "PRZEPUSTKA (L2+L3)"},
        {answer("laptop", {"L2"}, true), true, "PRZEPUSTKA (L3)"},
        {answer("pass", {"LAN"}), false, "PRZEPUSTKA (L3)"},
        {answer("laptop", {"L2", "LAN"}), false, "WŁĄCZONY (L2+L3)"},
        {answer("laptop", {"L2", "LAN"}), true, "BRAMA L3 + LAN"},
        {answer("laptop", {"L2"}), true, "WYMUSZONY L3"},
        {answer("laptop", {}), true, "WYMUSZONY L3"},
        {answer("desktop", {"L3"}), false, "WŁĄCZONY (L3)"},
        {answer("laptop", {"l2"}), false, "WŁĄCZONY (L3)"},  // modes compare exactly
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tunnel_status_label(tunnel_shape(c.result, c.force_l3)), c.label)
            << c.result.node_type << " links=" << c.result.links.size() << " force=" << c.force_l3;
    }
}

TEST(TunnelShape, GatewayForALanLinkOrADesktopNode) {
    EXPECT_TRUE(tunnel_shape(answer("laptop", {"LAN"}), false).gateway);
    EXPECT_TRUE(tunnel_shape(answer("desktop", {}), true).gateway);
    EXPECT_FALSE(tunnel_shape(answer("Desktop", {"L3", "L2"}), false).gateway);
}

TEST(ProbeTarget, IsTheHubAddressOnlyWhenItIsADottedQuad) {
    EXPECT_EQ(probe_target("10.200.0.7"), "10.200.0.7");
    EXPECT_EQ(probe_target(""), "10.200.0.1");
    // ping reads a leading '-' or '/' as an option: anything but a plain
    // address is handled as a missing one.
    for (const char* hostile : {"-t", "/t", "-n 100000 10.200.0.7", "10.200.0.7 -t", " 10.200.0.7",
                                "10.200.0.7/32", "hub.example", "10.200.0.256"})
        EXPECT_EQ(probe_target(hostile), "10.200.0.1") << hostile;
}

}  // namespace
}  // namespace tarvo
