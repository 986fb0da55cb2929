#include "ui/hub_geometry.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tarvo::ui {
namespace {

TEST(HubProjection, AnglesAtTimeZeroAndTheirSpeeds) {
    const HubProjection zero = hub_projection(0, true, 50, 60, 20);
    EXPECT_FLOAT_EQ(zero.a0, 0);
    EXPECT_FLOAT_EQ(zero.a1, 0.45f);
    EXPECT_FLOAT_EQ(zero.a2, 0);
    EXPECT_FLOAT_EQ(hub_projection(1, true, 0, 0, 1).a0, 1.35f);
    EXPECT_FLOAT_EQ(hub_projection(1, false, 0, 0, 1).a0, 0.75f);
    EXPECT_FLOAT_EQ(hub_projection(1, false, 0, 0, 1).a1, 0.45f + 0.63f * 0.75f);
}

TEST(ProjectHubPoint, RotatesAboutXAndAppliesPerspectiveAtTimeZero) {
    const HubProjection p = hub_projection(0, false, 50, 60, 20);
    // (0, -1, 0) turned about X by 0.45: y = -cos 0.45, depth = -sin 0.45.
    const ProjectedPoint top = project_hub_point(p, 0, -1, 0);
    const float depth = -std::sin(0.45f);
    const float perspective = 3.2f / (0.55f * depth + 3.2f);
    EXPECT_NEAR(top.z, depth, 1e-6);
    EXPECT_NEAR(top.x, 50, 1e-5);
    EXPECT_NEAR(top.y, 60 - std::cos(0.45f) * 20 * perspective, 1e-4);
    // (1, 0, 0) is untouched by X and Z at t = 0: depth 0, no perspective change.
    const ProjectedPoint right = project_hub_point(p, 1, 0, 0);
    EXPECT_NEAR(right.x, 70, 1e-5);
    EXPECT_NEAR(right.y, 60, 1e-5);
    EXPECT_NEAR(right.z, 0, 1e-6);
}

TEST(HubPaintingOrder, FarthestFirstAndTiesKeepIndexOrder) {
    ProjectedVertices v{};
    const float depths[6] = {0.2f, -0.5f, 0.2f, 0.9f, -0.1f, 0.2f};
    for (std::size_t i = 0; i < 6; ++i) v[i].z = depths[i];
    EXPECT_TRUE(is_farther_hub_vertex(v, 3, 0));
    EXPECT_FALSE(is_farther_hub_vertex(v, 0, 2));
    EXPECT_EQ(hub_painting_order(v), (std::array<int, 6>{3, 0, 2, 5, 4, 1}));
}

TEST(HubPaintingOrder, ProjectedVerticesComeOutInFallingDepth) {
    const HubProjection p = hub_projection(0, true, 0, 0, 10);
    ProjectedVertices v;
    for (std::size_t k = 0; k < 6; ++k)
        v[k] = project_hub_point(p, kHubVertices[k][0], kHubVertices[k][1], kHubVertices[k][2]);
    const auto order = hub_painting_order(v);
    for (std::size_t i = 1; i < order.size(); ++i)
        EXPECT_GE(v[static_cast<std::size_t>(order[i - 1])].z, v[static_cast<std::size_t>(order[i])].z);
}

TEST(HubPacketPhase, StartsAtTheCentreAndRunsFasterWhenOn) {
    EXPECT_FLOAT_EQ(hub_packet_phase(0, true, 0), 0);
    EXPECT_NEAR(hub_packet_phase(0, false, 1), 0.37f, 1e-6);
    EXPECT_NEAR(hub_packet_phase(0.5f, true, 0), 0.95f, 1e-6);
    EXPECT_NEAR(hub_packet_phase(0.5f, false, 0), 0.45f, 1e-6);
}

}  // namespace
}  // namespace tarvo::ui
