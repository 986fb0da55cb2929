// The header's hub: an octahedron turned and projected in perspective. Pure
// geometry; hub_tile.cpp paints it.
#pragma once

#include <array>
#include <cstddef>

namespace tarvo::ui {

struct HubProjection {
    float a0 = 0, a1 = 0, a2 = 0;  // radians, about Y, X and Z
    float cx = 0, cy = 0;          // screen centre
    float radius = 1;              // R, pixels
};

struct ProjectedPoint {
    float x = 0, y = 0;
    float z = 0;  // depth: greater is farther
};

using ProjectedVertices = std::array<ProjectedPoint, 6>;

inline constexpr std::array<std::array<float, 3>, 6> kHubVertices{
    {{0, -1, 0}, {0, 1, 0}, {-1, 0, 0}, {1, 0, 0}, {0, 0, -1}, {0, 0, 1}}};

inline constexpr std::array<std::array<int, 2>, 12> kHubEdges{
    {{0, 2}, {0, 3}, {0, 4}, {0, 5}, {1, 2}, {1, 3}, {1, 4}, {1, 5}, {2, 4}, {4, 3}, {3, 5}, {5, 2}}};

// Speed of the turn about Y: faster while the tunnel is on.
float hub_speed(bool power_on);

// The three angles at time t.
HubProjection hub_projection(float t, bool power_on, float cx, float cy, float radius);

ProjectedPoint project_hub_point(const HubProjection& p, float x, float y, float z);

// True when vertex a is deeper than vertex b; indices 0..5.
bool is_farther_hub_vertex(const ProjectedVertices& vertices, std::size_t a, std::size_t b);

// Indices from back to front; equal depths keep their index order.
std::array<int, 6> hub_painting_order(const ProjectedVertices& vertices);

// Where along its spoke vertex k's packet is (0 centre, towards 1 the corner).
float hub_packet_phase(float t, bool power_on, int k);

}  // namespace tarvo::ui
