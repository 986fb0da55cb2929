#include "orchestrator/predicates.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvo {
namespace {

LinkInfo link(std::int32_t id, std::string mode) {
    LinkInfo l;
    l.id = id;
    l.mode = std::move(mode);
    return l;
}

BootstrapResult granted(std::string node_type, std::vector<LinkInfo> links) {
    BootstrapResult r;
    r.node_type = std::move(node_type);
    r.links = std::move(links);
    r.project_enabled = true;
    r.owner_active = true;
    return r;
}

TEST(Predicates, DefaultRecordIsNeitherAPassNorAllowed) {
    const BootstrapResult r;
    EXPECT_FALSE(is_pass(r));
    EXPECT_FALSE(is_pass_blocked(r));
    EXPECT_FALSE(is_tunnel_allowed(r));
    EXPECT_EQ(topology_signature(r), "l3=false;l2=false;own=false;ps=;exp=;");
}

TEST(Predicates, PassAndItsBlocking) {
    const struct {
        const char* what;
        std::string node_type;
        std::optional<std::string> pass_code;
        bool allow_l3;
        std::optional<std::string> pass_status;
        bool pass;
        bool blocked;
    } rows[] = {
        {"pass node without a code", "pass", std::nullopt, true, std::nullopt, true, false},
        {"desktop with an empty code", "desktop", "", false, std::nullopt, false, false},
        {"desktop with a code", "desktop", "PASS-1H-AAAAAAAA", true, "ACTIVE", true, false},
        {"Pass is not pass", "Pass", std::nullopt, false, std::nullopt, false, false},
        {"pass without layer 3 though ACTIVE", "pass", std::nullopt, false, "ACTIVE", true, true},
        {"pass EXPIRED", "pass", std::nullopt, true, "EXPIRED", true, true},
        {"pass active in lower case", "pass", std::nullopt, true, "active", true, true},
        {"pass with an empty status", "pass", std::nullopt, true, "", true, false},
        {"pass with another status", "pass", std::nullopt, true, "PENDING", true, true},
        {"device without layer 3", "mikrotik", std::nullopt, false, "EXPIRED", false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        BootstrapResult r;
        r.node_type = row.node_type;
        r.pass_code = row.pass_code;
        r.allow_l3 = row.allow_l3;
        r.pass_status = row.pass_status;
        EXPECT_EQ(is_pass(r), row.pass);
        EXPECT_EQ(is_pass_blocked(r), row.blocked);
    }
}

TEST(Predicates, TunnelAllowedNeedsAnEnabledProjectAnActiveOwnerAndALink) {
    const struct {
        const char* what;
        BootstrapResult result;
        bool allowed;
    } rows[] = {
        {"L3 link", granted("mikrotik", {link(1, "L3")}), true},
        {"L2 link", granted("mikrotik", {link(1, "LAN"), link(2, "L2")}), true},
        {"desktop with only a LAN link", granted("desktop", {link(1, "LAN")}), true},
        {"mikrotik with only a LAN link", granted("mikrotik", {link(1, "LAN")}), false},
        {"no links", granted("desktop", {}), false},
        {"l2 in lower case", granted("desktop", {link(1, "l2")}), false},
        {"project paused",
         [] {
             auto r = granted("desktop", {link(1, "L3")});
             r.project_enabled = false;
             return r;
         }(),
         false},
        {"owner inactive",
         [] {
             auto r = granted("desktop", {link(1, "L3")});
             r.owner_active = false;
             return r;
         }(),
         false},
        {"blocked pass",
         [] {
             auto r = granted("pass", {link(1, "L3")});
             r.allow_l3 = false;
             return r;
         }(),
         false},
        {"pass that may enter",
         [] {
             auto r = granted("pass", {link(1, "L3")});
             r.allow_l3 = true;
             return r;
         }(),
         true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(is_tunnel_allowed(row.result), row.allowed);
    }
}

TEST(Predicates, PassExpiredOnlyForExactlyExpired) {
    EXPECT_FALSE(is_pass_expired(std::nullopt));
    EXPECT_FALSE(is_pass_expired(std::string("expired")));
    EXPECT_FALSE(is_pass_expired(std::string("")));
    EXPECT_TRUE(is_pass_expired(std::string("EXPIRED")));
}

TEST(Predicates, NextL2LinkFollowsListOrder) {
    const std::vector<LinkInfo> links = {link(1, "L3"), link(9, "L2"), link(5, "l2"), link(4, "L2")};
    auto it = links.cbegin();
    const auto first = next_l2_link(it, links.cend());
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->id, 9);
    EXPECT_EQ(it, links.cbegin() + 2);
    const auto second = next_l2_link(it, links.cend());
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->id, 4);
    EXPECT_EQ(next_l2_link(it, links.cend()), std::nullopt);
    EXPECT_EQ(it, links.cend());

    const std::vector<LinkInfo> none;
    auto empty = none.cbegin();
    EXPECT_EQ(next_l2_link(empty, none.cend()), std::nullopt);
}

TEST(TopologySignature, RendersFlagsPassStateAndLinksSortedStablyById) {
    BootstrapResult r;
    r.allow_l3 = true;
    r.owner_active = true;
    r.pass_status = "ACTIVE";
    r.pass_expires_at = "2025-03-01T08:15:00Z";
    LinkInfo seven{7, 1, 2, "L3", "10.1.0.0/24", "10.2.0.0/24", 70, "h", "10.9.0.7"};
    LinkInfo first_three{3, 1, 2, "L2", "a", "b", 30, std::nullopt, std::nullopt};
    LinkInfo second_three{3, 1, 2, "LAN", "c", "d", -1, "h", ""};
    LinkInfo negative{-2147483647 - 1, 0, 0, "L3", "", "", 0, std::nullopt, "t"};
    r.links = {seven, first_three, second_three, negative};
    EXPECT_EQ(topology_signature(r),
              "l3=true;l2=false;own=true;ps=ACTIVE;exp=2025-03-01T08:15:00Z;"
              "-2147483648:L3:::t:0|3:L2:a:b::30|3:LAN:c:d::-1|7:L3:10.1.0.0/24:10.2.0.0/24:10.9.0.7:70");
    EXPECT_EQ(r.links.front(), seven) << "the answer's own list keeps its order";
}

TEST(TopologySignature, IgnoresWhatDoesNotChangeTheTunnel) {
    BootstrapResult base;
    base.allow_l2 = true;
    base.links = {LinkInfo{1, 2, 3, "L2", "a", "b", 4, "1.1.1.1", "t"}};
    const std::string signature = topology_signature(base);

    auto changed = base;
    changed.links[0].hub_ip = "2.2.2.2";
    changed.links[0].source_id = 8;
    changed.links[0].target_id = 9;
    changed.project_enabled = true;
    changed.hub = HubInfo{"e", "k", "i"};
    changed.tunnel_id = 5;
    changed.tap_ip = "x";
    changed.hub_ip = "y";
    changed.reason = "z";
    changed.name = "other";
    EXPECT_EQ(topology_signature(changed), signature);

    auto absent_status = base;
    auto empty_status = base;
    empty_status.pass_status = "";
    EXPECT_EQ(topology_signature(absent_status), topology_signature(empty_status));

    auto other_tap = base;
    other_tap.links[0].tap_ip = "t2";
    EXPECT_NE(topology_signature(other_tap), signature);
}

TEST(Clones, AreIndependentCopies) {
    const std::optional<HubInfo> hub = HubInfo{"e", "k", "i"};
    auto hub_copy = clone_hub_info(hub);
    EXPECT_EQ(hub_copy, hub);
    hub_copy->endpoint = "changed";
    EXPECT_EQ(hub->endpoint, "e");
    EXPECT_EQ(clone_hub_info(std::nullopt), std::nullopt);

    const std::vector<LinkInfo> links = {link(2, "L3"), link(1, "L2")};
    auto copy = clone_link_list(links);
    EXPECT_EQ(copy, links);
    copy[0].mode = "x";
    EXPECT_EQ(links[0].mode, "L3");
}

}  // namespace
}  // namespace tarvo
