// The real window over the start look, for the scale and renderer checks
// under Wine (check_window_scale.py). Nothing here talks to a network.
//
// After each frame that differs from the last one reported, it says on
// standard output what it drew, once the frame has been swapped:
//   drawn 780x810 at 1050,405 scale 1 renderer imgui_impl_opengl3 gl 4.5 (Compatibility Profile) Mesa ...
// (client size and its top-left corner on the screen, in pixels).
// A line "dpi N" on standard input makes a second thread send the window
// WM_DPICHANGED for N dots per inch with the rectangle Windows suggests on a
// change of scale (same top-left corner, client area scaled by N / current
// DPI, the frame for N); it answers "suggested L,T,R,B" first. The window
// closes when standard input ends.
#include <windows.h>

#include <GL/gl.h>
#include <imgui.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/window.h"
#include "support/idle_operations.h"
#include "ui/client_app.h"

namespace {

using namespace tarvo;

std::atomic<HWND> window_handle{nullptr};
std::atomic<UINT> window_dpi{96};

class ReportingApp final : public platform::WindowApp {
public:
    explicit ReportingApp(std::unique_ptr<platform::WindowApp> app) : app_(std::move(app)) {}

    bool prepare_frame(platform::WindowContext& window) override {
        // The previous frame has been swapped by now.
        if (drawn_ != reported_) {
            std::printf("drawn %s\n", drawn_.c_str());
            std::fflush(stdout);
            reported_ = drawn_;
        }
        return app_->prepare_frame(window);
    }

    void update(platform::WindowContext& window) override {
        app_->update(window);
        HWND hwnd = WindowFromDC(wglGetCurrentDC());
        window_handle = hwnd;
        window_dpi = static_cast<UINT>(std::lround(window.dpi_scale() * 96));
        POINT origin{0, 0};
        ClientToScreen(hwnd, &origin);
        const ImGuiIO& io = ImGui::GetIO();
        const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
        char line[512];
        std::snprintf(line, sizeof line, "%dx%d at %ld,%ld scale %g renderer %s gl %s",
                      static_cast<int>(io.DisplaySize.x), static_cast<int>(io.DisplaySize.y), origin.x,
                      origin.y, window.dpi_scale(), io.BackendRendererName ? io.BackendRendererName : "none",
                      version ? version : "none");
        drawn_ = line;
    }

    void on_exit() override { app_->on_exit(); }

private:
    std::unique_ptr<platform::WindowApp> app_;
    std::string drawn_, reported_;
};

// What Windows hands a window whose monitor changes to `dpi`.
RECT suggested_rect(HWND hwnd, UINT dpi) {
    RECT client{}, now{};
    GetClientRect(hwnd, &client);
    GetWindowRect(hwnd, &now);
    const UINT from = window_dpi;
    RECT outer{0, 0, MulDiv(client.right, static_cast<int>(dpi), static_cast<int>(from)),
               MulDiv(client.bottom, static_cast<int>(dpi), static_cast<int>(from))};
    AdjustWindowRectExForDpi(&outer, static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE)), FALSE,
                             static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE)), dpi);
    return RECT{now.left, now.top, now.left + outer.right - outer.left, now.top + outer.bottom - outer.top};
}

void read_commands() {
    char line[64];
    while (std::fgets(line, sizeof line, stdin)) {
        unsigned dpi = 0;
        HWND hwnd = window_handle;
        if (std::sscanf(line, "dpi %u", &dpi) != 1 || dpi == 0 || !hwnd) {
            std::printf("refused %s", line);
            std::fflush(stdout);
            continue;
        }
        RECT rect = suggested_rect(hwnd, dpi);
        std::printf("suggested %ld,%ld,%ld,%ld\n", rect.left, rect.top, rect.right, rect.bottom);
        std::fflush(stdout);
        SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&rect));
    }
    if (HWND hwnd = window_handle) PostMessageW(hwnd, WM_CLOSE, 0, 0);
}

}  // namespace

int main() {
    auto shared = create_shared_state({"ABCD-EFGH-1234", false, false});
    std::thread commands(read_commands);
    commands.detach();
    const bool opened = platform::run_window(ui::main_window_options(), [&](platform::WindowContext& window) {
        auto app = std::make_unique<ui::ClientApp>(shared->lock()->config.DeviceCode, shared,
                                                   std::make_unique<testing::IdleOperations>(),
                                                   ui::load_font_faces());
        return std::make_unique<ReportingApp>(
            ui::make_window_app(std::move(app), window.dpi_scale(), window.max_texture_size()));
    });
    if (!opened) std::fputs("window_scale_probe: no window\n", stderr);
    std::fflush(nullptr);
    // The command thread may still wait on standard input.
    std::_Exit(opened ? 0 : 1);
}
