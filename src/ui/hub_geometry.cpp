#include "ui/hub_geometry.h"

#include <cmath>
#include <cstdlib>

namespace tarvo::ui {

float hub_speed(bool power_on) { return power_on ? 1.35f : 0.75f; }

HubProjection hub_projection(float t, bool power_on, float cx, float cy, float radius) {
    const float v = hub_speed(power_on);
    return HubProjection{v * t, 0.45f + 0.63f * v * t, 0.35f * std::sin(0.4f * t), cx, cy, radius};
}

ProjectedPoint project_hub_point(const HubProjection& p, float x, float y, float z) {
    const float s0 = std::sin(p.a0), c0 = std::cos(p.a0);
    const float s1 = std::sin(p.a1), c1 = std::cos(p.a1);
    const float s2 = std::sin(p.a2), c2 = std::cos(p.a2);
    const float x1 = x * c0 + z * s0;
    const float z1 = z * c0 - x * s0;
    const float y2 = y * c1 - z1 * s1;
    const float z2 = y * s1 + z1 * c1;
    const float x3 = x1 * c2 - y2 * s2;
    const float y3 = x1 * s2 + y2 * c2;
    const float perspective = 3.2f / (0.55f * z2 + 3.2f);
    return ProjectedPoint{p.cx + x3 * p.radius * perspective, p.cy + y3 * p.radius * perspective, z2};
}

bool is_farther_hub_vertex(const ProjectedVertices& vertices, std::size_t a, std::size_t b) {
    if (a >= vertices.size() || b >= vertices.size()) std::abort();
    return vertices[a].z > vertices[b].z;
}

std::array<int, 6> hub_painting_order(const ProjectedVertices& vertices) {
    std::array<int, 6> order{0, 1, 2, 3, 4, 5};
    for (std::size_t i = 1; i < order.size(); ++i) {
        const int moving = order[i];
        std::size_t j = i;
        while (j > 0 && is_farther_hub_vertex(vertices, static_cast<std::size_t>(moving),
                                              static_cast<std::size_t>(order[j - 1]))) {
            order[j] = order[j - 1];
            --j;
        }
        order[j] = moving;
    }
    return order;
}

float hub_packet_phase(float t, bool power_on, int k) {
    const float u = (power_on ? 1.9f : 0.9f) * t + 0.37f * static_cast<float>(k);
    return u - std::trunc(u);
}

}  // namespace tarvo::ui
