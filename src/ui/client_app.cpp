#include "ui/client_app.h"

#include <imgui.h>
#include <imgui_internal.h>

#include <cmath>

#include "drivers/embedded_assets.h"
#include "orchestrator/access_code.h"
#include "ui/widget_ids.h"
#include "ui/window_icon.h"

namespace tarvo::ui {

namespace {

using namespace std::chrono_literals;

void apply_style() {
    ImGuiStyle& style = ImGui::GetStyle();
    style.Colors[ImGuiCol_FrameBg] = ImColor(13, 20, 36);
    style.Colors[ImGuiCol_WindowBg] = ImColor(11, 17, 32);
    style.Colors[ImGuiCol_ChildBg] = ImColor(11, 17, 32, 0);
    style.Colors[ImGuiCol_ScrollbarBg] = ImColor(0, 0, 0, 0);
    // Scroll bars in the panel's colours: the border blue-grey, slate under
    // the pointer, cyan while dragged.
    style.Colors[ImGuiCol_ScrollbarGrab] = ImColor(45, 62, 90);
    style.Colors[ImGuiCol_ScrollbarGrabHovered] = ImColor(100, 116, 139);
    style.Colors[ImGuiCol_ScrollbarGrabActive] = ImColor(6, 182, 212);
}

void size_window_once(ClientApp& app, platform::WindowContext& window) {
    if (app.window_sized) return;
    const auto monitor = window.monitor_size();
    const auto placement = first_frame_placement(monitor ? std::optional(monitor->width) : std::nullopt,
                                                 monitor ? std::optional(monitor->height) : std::nullopt);
    if (!placement) return;
    app.window_sized = true;
    window.set_inner_size(placement->width, placement->height);
    window.set_outer_position(placement->x, placement->y);
}

void draw_root(ClientApp& app, FrameValues& frame) {
    // One window hierarchy in every frame, so the key editor keeps its id (and
    // its focus) whether or not the root scrolls.
    const float available = ImGui::GetContentRegionAvail().y / frame.px;
    const bool scroll = needs_root_scroll(frame.layout.content_height, available);
    ImGuiWindowFlags flags = ImGuiWindowFlags_NoBackground;
    if (!scroll) flags |= ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse;
    ImGui::BeginChild(ids::kRootScroll, ImVec2(0, 0), false, flags);
    // Scrolls by drag as well as by wheel: a press on the panel's background
    // (not on a widget or the log) makes the area itself the active item.
    ImGuiWindow* area = ImGui::GetCurrentWindow();
    if (scroll && ImGui::GetActiveID() == area->MoveId && ImGui::IsMouseDragging(ImGuiMouseButton_Left, 0.0f))
        ImGui::SetScrollY(area->Scroll.y - ImGui::GetIO().MouseDelta.y);
    draw_main_panel(app, frame, scroll);
    ImGui::EndChild();
}

}  // namespace

void draw_window_contents(ClientApp& app, FrameValues& frame) {
    const ImGuiIO& io = ImGui::GetIO();
    ImGui::SetNextWindowPos(ImVec2(0, 0));
    ImGui::SetNextWindowSize(io.DisplaySize);
    const float margin = std::round(frame.layout.panel_margin * frame.px);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(margin, margin));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowBorderSize, 0);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowRounding, 0);
    ImGui::PushStyleVar(ImGuiStyleVar_ScrollbarSize, std::round(10 * frame.px));
    ImGui::Begin("tarvo_central_panel", nullptr,
                 ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoSavedSettings |
                     ImGuiWindowFlags_NoBringToFrontOnFocus | ImGuiWindowFlags_NoScrollWithMouse);
    draw_root(app, frame);
    ImGui::End();
    ImGui::PopStyleVar(4);
}

namespace {

class ClientWindowApp final : public platform::WindowApp {
public:
    explicit ClientWindowApp(std::unique_ptr<ClientApp> app) : app_(std::move(app)) {}

    bool prepare_frame(platform::WindowContext& /*window*/) override {
        const ImVec2 size = ImGui::GetIO().DisplaySize;
        const auto now = std::chrono::steady_clock::now();
        if (size.x != last_size_.x || size.y != last_size_.y) {
            last_size_ = size;
            last_resize_ = now;
        }
        // The user dragging the window's edge; the first-frame sizing is not
        // waited for, so the start shows blurred text for a frame or two only.
        const bool resizing = now - last_resize_ < 200ms && now - app_->started > 500ms;
        return app_->fonts.rebuild_if_needed(*ImGui::GetIO().Fonts, resizing);
    }

    void update(platform::WindowContext& window) override { update_frame(*app_, window); }

    void on_exit() override { app_->operations->tear_down_on_exit(); }

private:
    std::unique_ptr<ClientApp> app_;
    ImVec2 last_size_{0, 0};
    std::chrono::steady_clock::time_point last_resize_{};
};

}  // namespace

void update_frame(ClientApp& app, platform::WindowContext& window) {
    size_window_once(app, window);
    apply_style();

    FrameValues frame;
    const auto elapsed = std::chrono::steady_clock::now() - app.started;
    const auto whole = std::chrono::duration_cast<std::chrono::seconds>(elapsed);
    frame.animation_time = static_cast<float>(whole.count()) +
                           static_cast<float>((elapsed - whole).count()) / 1'000'000'000.0f;
    window.repaint_after(16ms);

    frame.px = window.dpi_scale();
    frame.layout = frame_layout(ImGui::GetIO().DisplaySize.y / frame.px);
    draw_window_contents(app, frame);
    act_on_requests(app, frame);
}

void act_on_requests(ClientApp& app, const FrameValues& frame) {
    // Each operation is marked in progress here, so the next frame shows it
    // and refuses a second click of its kind; the operations then run in the
    // order asked for.
    if (frame.force_l3_toggle_requested)
        if (auto restart = toggle_force_l3(*app.state)) app.operations->start_power_on(std::move(*restart));
    if (frame.power_on_requested)
        if (auto ticket = click_power_on(*app.state, app.key_input))
            app.operations->start_power_on(std::move(*ticket));
    if (frame.power_off_requested)
        if (auto request = click_power_off(*app.state)) app.operations->start_power_off(std::move(*request));
}

std::unique_ptr<platform::WindowApp> make_window_app(std::unique_ptr<ClientApp> app, float dpi_scale,
                                                     int max_texture_size) {
    app->fonts.set_max_texture_size(max_texture_size);
    // The sizes the panel asks for are baked once the window has settled.
    const int quarter = static_cast<int>(std::lround(13 * dpi_scale * 4));
    app->fonts.bake(*ImGui::GetIO().Fonts,
                    {{FontFamily::proportional, quarter}, {FontFamily::monospace, quarter}});
    return std::make_unique<ClientWindowApp>(std::move(app));
}

platform::WindowOptions main_window_options() {
    platform::WindowOptions options;
    options.title = "Tarvo Enterprise Client";
    if (const auto png = assets::find("tarvo-256.png")) options.icon = decode_window_icon(*png);
    options.inner_width = 760;
    options.inner_height = 690;
    options.min_inner_width = 620;
    options.min_inner_height = 500;
    return options;
}

std::unique_ptr<platform::WindowApp> create_app(platform::WindowContext& window, ClientConfig config) {
    FontFaces faces = load_font_faces();
    if (!config.DeviceCode.empty()) config.DeviceCode = normalize_access_code(config.DeviceCode);
    const bool auto_connect = config.AutoConnect && is_valid_access_code(config.DeviceCode);
    std::string key = config.DeviceCode;
    auto shared = create_shared_state(std::move(config));
    auto operations = make_client_operations(shared, window.repaint_requester());
    operations->start_worker(auto_connect);
    return make_window_app(std::make_unique<ClientApp>(std::move(key), std::move(shared),
                                                       std::move(operations), std::move(faces)),
                           window.dpi_scale(), window.max_texture_size());
}

}  // namespace tarvo::ui
