#include "ui/hub_tile.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "ui/hub_geometry.h"

namespace tarvo::ui {

namespace {

ImU32 colour(int r, int g, int b, float alpha) {
    return IM_COL32(r, g, b, static_cast<int>(std::clamp(alpha, 0.0f, 255.0f)));
}

struct StateColour {
    int r, g, b;
};

void draw_ring(ImDrawList& painter, const HubProjection& p, float phi, float t, float satellite_angle,
               float px) {
    constexpr float kRadius = 1.12f;
    const float sp = std::sin(phi), cp = std::cos(phi);
    ProjectedPoint previous{};
    for (int j = 0; j <= 28; ++j) {
        const float theta = 2 * std::numbers::pi_v<float> * static_cast<float>(j) / 28 + 0.8f * t;
        const ProjectedPoint point = project_hub_point(
            p, kRadius * std::cos(theta), kRadius * std::sin(theta) * cp, kRadius * std::sin(theta) * sp);
        if (j > 0)
            painter.AddLine(ImVec2(previous.x, previous.y), ImVec2(point.x, point.y),
                            colour(6, 182, 212, 95 * std::clamp(1 - 0.35f * point.z, 0.2f, 1.0f)), px);
        previous = point;
    }
    const ProjectedPoint satellite = project_hub_point(p, kRadius * std::cos(satellite_angle),
                                                       kRadius * std::sin(satellite_angle) * cp,
                                                       kRadius * std::sin(satellite_angle) * sp);
    if (satellite.z < 0.6f) {
        painter.AddCircleFilled(ImVec2(satellite.x, satellite.y), 3.2f * px, colour(16, 185, 129, 90));
        painter.AddCircleFilled(ImVec2(satellite.x, satellite.y), 1.7f * px, IM_COL32_WHITE);
    }
}

}  // namespace

void draw_hub_tile(ImDrawList& painter, ImRect tile, bool power_on, float t, float px) {
    const StateColour state = power_on ? StateColour{16, 185, 129} : StateColour{59, 130, 246};
    ImRect inner = tile;
    inner.Expand(-1.5f * px);
    painter.AddRectFilled(inner.Min, inner.Max, IM_COL32(13, 24, 48, 255), 18 * px);
    const int a = static_cast<int>(std::clamp(50 + 0.5f * std::sin(2.5f * t), 0.0f, 255.0f));
    const ImU32 border = power_on ? colour(6, 210, 230, static_cast<float>(a / 2 + 155))
                                  : colour(59, 130, 246, static_cast<float>(a / 3 + 130));
    painter.AddRect(inner.Min, inner.Max, border, 18 * px, 0, 1.8f * px);

    const ImVec2 c = inner.GetCenter();
    const float radius = 0.36f * inner.GetWidth();
    const float glow = radius * (0.95f + 0.12f * std::sin(3.2f * t));
    painter.AddCircleFilled(c, glow, colour(state.r, state.g, state.b, 26));
    painter.AddCircleFilled(c, 0.62f * glow, colour(6, 182, 212, 36));

    const HubProjection p = hub_projection(t, power_on, c.x, c.y, radius);
    draw_ring(painter, p, 0.85f, t, 2.8f * t, px);
    draw_ring(painter, p, -0.85f, t, -2.3f * t + 1.7f, px);

    ProjectedVertices vertices;
    for (std::size_t k = 0; k < vertices.size(); ++k)
        vertices[k] = project_hub_point(p, kHubVertices[k][0], kHubVertices[k][1], kHubVertices[k][2]);

    for (const auto& edge : kHubEdges) {
        const ProjectedPoint& a_end = vertices[static_cast<std::size_t>(edge[0])];
        const ProjectedPoint& b_end = vertices[static_cast<std::size_t>(edge[1])];
        const float f = std::clamp(1 - 0.45f * (a_end.z + b_end.z) / 2, 0.25f, 1.0f);
        painter.AddLine(ImVec2(a_end.x, a_end.y), ImVec2(b_end.x, b_end.y), colour(59, 130, 246, 210 * f),
                        (1.1f + 1.1f * f) * px);
    }

    for (int k = 0; k < 6; ++k) {
        const ProjectedPoint& v = vertices[static_cast<std::size_t>(k)];
        const float f = std::clamp(1 - 0.4f * v.z, 0.3f, 1.0f);
        const ImU32 spoke = power_on ? colour(16, 185, 129, 185 * f) : colour(6, 182, 212, 185 * f);
        painter.AddLine(c, ImVec2(v.x, v.y), spoke, 1.5f * px);
        const float phase = hub_packet_phase(t, power_on, k);
        const ImVec2 packet(c.x + phase * (v.x - c.x), c.y + phase * (v.y - c.y));
        painter.AddCircleFilled(packet, 3.2f * px, colour(6, 220, 245, 110));
        painter.AddCircleFilled(packet, 1.6f * px, IM_COL32_WHITE);
    }

    for (const int k : hub_painting_order(vertices)) {
        const ProjectedPoint& v = vertices[static_cast<std::size_t>(k)];
        const float g = std::clamp(1 - 0.28f * v.z, 0.65f, 1.35f);
        const float alpha = 255 * std::clamp(1 - 0.35f * v.z, 0.4f, 1.0f);
        painter.AddCircleFilled(ImVec2(v.x, v.y), 4.2f * g * px, colour(255, 255, 255, alpha));
        painter.AddCircleFilled(ImVec2(v.x, v.y), 2.8f * g * px, colour(6, 182, 212, alpha));
    }

    painter.AddCircleFilled(c, 8.5f * (1 + 0.16f * std::sin(4.2f * t)) * px,
                            colour(state.r, state.g, state.b, 85));
    painter.AddCircleFilled(c, 5.5f * px, IM_COL32_WHITE);
    painter.AddCircleFilled(c, 3.8f * px, colour(state.r, state.g, state.b, 255));
}

}  // namespace tarvo::ui
