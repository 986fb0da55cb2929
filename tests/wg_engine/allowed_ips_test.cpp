#include "wg_engine/allowed_ips.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvo {
namespace {

using Ips = std::vector<std::string>;

LinkInfo link(std::string mode, std::int32_t source_id, std::string src, std::string dst,
              std::optional<std::string> tap_ip = std::nullopt) {
    LinkInfo l;
    l.mode = std::move(mode);
    l.source_id = source_id;
    l.target_id = source_id == 7 ? 9 : 7;
    l.src_subnet = std::move(src);
    l.dst_subnet = std::move(dst);
    l.tap_ip = std::move(tap_ip);
    return l;
}

BootstrapResult node(std::string type, std::string local_subnet, std::vector<LinkInfo> links) {
    BootstrapResult r;
    r.node_id = 7;
    r.node_type = std::move(type);
    r.local_subnet = std::move(local_subnet);
    r.links = std::move(links);
    return r;
}

TEST(NormalizeLanSubnet, KeepsWrittenOctetsOfASlash24AndTrimsTheRest) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"192.168.1.77/24", "192.168.1.0/24"},
        {"  10.50.0.9/24\t", "10.50.0.0/24"},
        {"010.1.2.3/24", "010.1.2.0/24"},  // octets are not parsed as numbers
        {"a.b.c.d/24", "a.b.c.0/24"},
        {"10.1.2.3/16", "10.1.2.3/16"},      // only /24 is rewritten
        {"10.1.2.3/24/1", "10.1.2.3/24/1"},  // exactly two pieces
        {"10.1.2/24", "10.1.2/24"},          // exactly four octets
        {"10.1.2.3.4/24", "10.1.2.3.4/24"},
        {"10.1.2.3/ 24", "10.1.2.3/ 24"},
        {"10.1.2.3", "10.1.2.3"},
        {"   ", ""},
        {"", ""},
        {"\u00a010.0.0.1/24\u2003", "10.0.0.0/24"},  // Unicode blanks trimmed too
    };
    for (const auto& c : cases) EXPECT_EQ(normalize_lan_subnet(c.in), c.out) << '"' << c.in << '"';
}

TEST(FarSideSubnet, IsTheDestinationExactlyWhenTheLinkStartsHere) {
    EXPECT_EQ(far_side_subnet(link("L3", 7, "src", "dst"), 7), "dst");
    EXPECT_EQ(far_side_subnet(link("L3", 9, "src", "dst"), 7), "src");
    LinkInfo loop = link("L3", 7, "src", "dst");
    loop.target_id = 7;
    EXPECT_EQ(far_side_subnet(loop, 7), "dst");
}

TEST(ComputeAllowedIps, Table) {
    const std::vector<LinkInfo> two_l3 = {link("L3", 7, "x", "192.168.1.0/24"),
                                          link("L3", 9, "10.50.0.9/24", "y")};
    const struct {
        const char* name;
        BootstrapResult result;
        bool force_l3;
        Ips expected;
    } cases[] = {
        {"no links", node("laptop", "", {}), false, {"10.200.0.0/24", "10.254.0.0/16"}},
        {"desktop keeps its own LAN out",
         node("desktop", "192.168.1.77/24", two_l3),
         false,
         {"10.200.0.0/24", "10.254.0.0/16", "10.50.0.0/24"}},
        {"a mikrotik keeps its own LAN out too",
         node("mikrotik", "192.168.1.77/24", two_l3),
         false,
         {"10.200.0.0/24", "10.254.0.0/16", "10.50.0.0/24"}},
        {"a third-party router keeps its own LAN out too",
         node("thirdparty_router", "192.168.1.77/24", two_l3),
         false,
         {"10.200.0.0/24", "10.254.0.0/16", "10.50.0.0/24"}},
        {"other node types have no own LAN",
         node("pass", "192.168.1.77/24", two_l3),
         false,
         {"10.200.0.0/24", "10.254.0.0/16", "10.50.0.0/24", "192.168.1.0/24"}},
        {"an L2 far side is bridged, not routed, even when an L3 link names it",
         node("laptop", "", {link("L2", 7, "a", "10.9.9.0/24"), link("L3", 7, "b", "10.9.9.5/24")}),
         false,
         {"10.200.0.0/24", "10.254.0.0/16"}},
        {"forced L3 routes the L2 far side",
         node("laptop", "", {link("L2", 7, "a", "10.9.9.0/24"), link("L3", 7, "b", "10.9.9.5/24")}),
         true,
         {"10.200.0.0/24", "10.254.0.0/16", "10.9.9.0/24"}},
        {"forced L3 routes an L2 link's far side that no other link names",
         node("laptop", "", {link("L2", 7, "a", "10.9.9.0/24")}),
         true,
         {"10.200.0.0/24", "10.254.0.0/16", "10.9.9.0/24"}},
        {"an L2 tap address keeps its /24 out",
         node("laptop", "", {link("L2", 7, "a", "", "10.9.9.1/24"), link("L3", 7, "b", "10.9.9.0/24")}),
         false,
         {"10.200.0.0/24", "10.254.0.0/16"}},
        {"both L2 links stay out although only the first is bridged",
         node("laptop", "",
              {link("L2", 7, "", "10.1.1.0/24"), link("L2", 7, "", "10.2.2.0/24"),
               link("L3", 7, "", "10.2.2.0/24")}),
         false,
         {"10.200.0.0/24", "10.254.0.0/16"}},
        {"LAN links are never routed",
         node("laptop", "", {link("LAN", 7, "", "10.3.3.0/24")}),
         false,
         {"10.200.0.0/24", "10.254.0.0/16"}},
        {"unknown modes are routed; repeats and blanks add nothing",
         node(
             "laptop", "",
             {link("l3", 7, "", " 10.4.4.4/24 "), link("L3", 7, "", "10.4.4.0/24"), link("L3", 7, "", "  ")}),
         false,
         {"10.200.0.0/24", "10.254.0.0/16", "10.4.4.0/24"}},
        {"texts that are no prefix are kept for the engine to pass over",
         node("laptop", "", {link("L3", 7, "", "not-a-subnet")}),
         false,
         {"10.200.0.0/24", "10.254.0.0/16", "not-a-subnet"}},
        {"the fixed prefixes are never added twice",
         node("laptop", "", {link("L3", 7, "", "10.200.0.0/24")}),
         false,
         {"10.200.0.0/24", "10.254.0.0/16"}},
    };
    for (const auto& c : cases) EXPECT_EQ(compute_allowed_ips(c.result, c.force_l3), c.expected) << c.name;
}

}  // namespace
}  // namespace tarvo
