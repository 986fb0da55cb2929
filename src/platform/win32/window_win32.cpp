// The window over Win32 and WGL: Dear ImGui's Win32 backend with its OpenGL 3
// renderer, or the OpenGL 2 renderer where only OpenGL 1.1 is offered
// (virtual machines, remote sessions). Per-monitor DPI (the manifest asks for
// v2): lengths follow WM_DPICHANGED. No busy waiting: the loop sleeps until a
// message, a repaint request or the next frame's time; Windows' modal
// move/size loop keeps drawing through a timer.
#include <windows.h>

#include <GL/gl.h>
#include <imgui.h>
#include <imgui_impl_opengl2.h>
#include <imgui_impl_opengl3.h>
#include <imgui_impl_win32.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>

#include "platform/closable_repaint.h"
#include "platform/win32/wide_text.h"
#include "platform/window.h"

extern IMGUI_IMPL_API LRESULT ImGui_ImplWin32_WndProcHandler(HWND hwnd, UINT msg, WPARAM wparam,
                                                             LPARAM lparam);

namespace tarvo::platform {

namespace {

using Clock = std::chrono::steady_clock;
constexpr UINT kRepaintMessage = WM_APP + 1;
constexpr UINT_PTR kModalLoopTimer = 1;
constexpr DWORD kWindowStyle = WS_OVERLAPPEDWINDOW;
constexpr wchar_t kWindowClass[] = L"TarvoEnterpriseClientWindow";

float scale_of_dpi(UINT dpi) { return dpi > 0 ? static_cast<float>(dpi) / 96.0f : 1.0f; }

// The outer size of a window whose client area is `width` x `height` pixels.
SIZE outer_size(int width, int height, UINT dpi) {
    RECT rect{0, 0, width, height};
    AdjustWindowRectExForDpi(&rect, kWindowStyle, FALSE, 0, dpi);
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

class Renderer {
public:
    bool init() {
        const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
        const bool gl3 = version && std::atoi(version) >= 3;
        if (gl3 && ImGui_ImplOpenGL3_Init("#version 130")) {
            gl3_ = true;
            return true;
        }
        return ImGui_ImplOpenGL2_Init();
    }
    void shutdown() { gl3_ ? ImGui_ImplOpenGL3_Shutdown() : ImGui_ImplOpenGL2_Shutdown(); }
    void new_frame() { gl3_ ? ImGui_ImplOpenGL3_NewFrame() : ImGui_ImplOpenGL2_NewFrame(); }
    void reload_fonts() {
        if (gl3_) {
            ImGui_ImplOpenGL3_DestroyFontsTexture();
            ImGui_ImplOpenGL3_CreateFontsTexture();
        } else {
            ImGui_ImplOpenGL2_DestroyFontsTexture();
            ImGui_ImplOpenGL2_CreateFontsTexture();
        }
    }
    void render(ImDrawData* data) {
        gl3_ ? ImGui_ImplOpenGL3_RenderDrawData(data) : ImGui_ImplOpenGL2_RenderDrawData(data);
    }

private:
    bool gl3_ = false;
};

class Win32Window final : public WindowContext {
public:
    explicit Win32Window(const WindowOptions& options) : options_(options) {}

    bool open();
    void run(const WindowAppCreator& create_app);
    void close();

    std::optional<MonitorSize> monitor_size() const override {
        MONITORINFO info{};
        info.cbSize = sizeof info;
        if (!GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTONEAREST), &info)) return std::nullopt;
        const float scale = dpi_scale();
        return MonitorSize{static_cast<float>(info.rcMonitor.right - info.rcMonitor.left) / scale,
                           static_cast<float>(info.rcMonitor.bottom - info.rcMonitor.top) / scale};
    }

    void set_inner_size(float width, float height) override {
        const SIZE size = outer_size(static_cast<int>(std::lround(width * dpi_scale())),
                                     static_cast<int>(std::lround(height * dpi_scale())), dpi_);
        SetWindowPos(hwnd_, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    void set_outer_position(float x, float y) override {
        MONITORINFO info{};
        info.cbSize = sizeof info;
        GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTONEAREST), &info);
        SetWindowPos(hwnd_, nullptr, info.rcMonitor.left + static_cast<int>(std::lround(x * dpi_scale())),
                     info.rcMonitor.top + static_cast<int>(std::lround(y * dpi_scale())), 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    void repaint_after(std::chrono::nanoseconds delay) override {
        const auto at = Clock::now() + std::chrono::duration_cast<Clock::duration>(delay);
        next_frame_ = next_frame_ ? std::min(*next_frame_, at) : at;
    }

    float dpi_scale() const override { return scale_of_dpi(dpi_); }

    int max_texture_size() const override { return max_texture_size_; }

    std::shared_ptr<RepaintRequester> repaint_requester() override { return repaint_; }

private:
    static LRESULT CALLBACK window_procedure(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
    LRESULT handle(UINT msg, WPARAM wparam, LPARAM lparam);
    void render_frame();
    void wait_for_next_frame();

    const WindowOptions& options_;
    HWND hwnd_ = nullptr;
    HDC dc_ = nullptr;
    HGLRC gl_ = nullptr;
    HICON icon_ = nullptr;
    UINT dpi_ = 96;
    GLint max_texture_size_ = 0;
    bool quit_ = false;
    bool in_frame_ = false;
    Renderer renderer_;
    std::unique_ptr<WindowApp> app_;
    std::atomic<bool> wake_pending_{false};
    std::shared_ptr<ClosableRepaint> repaint_;
    std::optional<Clock::time_point> next_frame_;
};

HICON icon_from_rgba(const WindowIcon& icon) {
    BITMAPV5HEADER header{};
    header.bV5Size = sizeof header;
    header.bV5Width = icon.width;
    header.bV5Height = -icon.height;  // top-down rows
    header.bV5Planes = 1;
    header.bV5BitCount = 32;
    header.bV5Compression = BI_BITFIELDS;
    header.bV5RedMask = 0x00FF0000;
    header.bV5GreenMask = 0x0000FF00;
    header.bV5BlueMask = 0x000000FF;
    header.bV5AlphaMask = 0xFF000000;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP colour = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits,
                                      nullptr, 0);
    ReleaseDC(nullptr, screen);
    if (!colour) return nullptr;
    auto* out = static_cast<unsigned char*>(bits);
    for (std::size_t i = 0; i + 3 < icon.rgba.size(); i += 4) {
        out[i + 0] = icon.rgba[i + 2];
        out[i + 1] = icon.rgba[i + 1];
        out[i + 2] = icon.rgba[i + 0];
        out[i + 3] = icon.rgba[i + 3];
    }
    HBITMAP mask = CreateBitmap(icon.width, icon.height, 1, 1, nullptr);
    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmColor = colour;
    info.hbmMask = mask;
    HICON result = CreateIconIndirect(&info);
    DeleteObject(colour);
    DeleteObject(mask);
    return result;
}

bool Win32Window::open() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_OWNDC;
    wc.lpfnWndProc = &Win32Window::window_procedure;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = kWindowClass;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;

    // Centred on the primary monitor's work area, at that monitor's DPI.
    const POINT origin{0, 0};
    HMONITOR monitor = MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    GetMonitorInfoW(monitor, &info);
    dpi_ = GetDpiForSystem();
    const float scale = scale_of_dpi(dpi_);
    const SIZE size = outer_size(static_cast<int>(std::lround(options_.inner_width * scale)),
                                 static_cast<int>(std::lround(options_.inner_height * scale)), dpi_);
    const RECT& work = info.rcWork;
    const int x = work.left + std::max(0L, (work.right - work.left - size.cx) / 2);
    const int y = work.top + std::max(0L, (work.bottom - work.top - size.cy) / 2);

    const std::wstring title = win32::to_wide(options_.title);
    hwnd_ = CreateWindowExW(0, kWindowClass, title.c_str(), kWindowStyle, x, y, size.cx, size.cy, nullptr,
                            nullptr, instance, this);
    if (!hwnd_) return false;
    dpi_ = GetDpiForWindow(hwnd_);
    if (options_.icon && !options_.icon->rgba.empty()) {
        icon_ = icon_from_rgba(*options_.icon);
        if (icon_) {
            SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
            SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
        }
    }

    dc_ = GetDC(hwnd_);
    PIXELFORMATDESCRIPTOR pfd{};
    pfd.nSize = sizeof pfd;
    pfd.nVersion = 1;
    pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    pfd.iPixelType = PFD_TYPE_RGBA;
    pfd.cColorBits = 32;
    pfd.cAlphaBits = 8;
    pfd.iLayerType = PFD_MAIN_PLANE;
    const int format = ChoosePixelFormat(dc_, &pfd);
    if (format == 0 || !SetPixelFormat(dc_, format, &pfd)) return false;
    gl_ = wglCreateContext(dc_);
    if (!gl_ || !wglMakeCurrent(dc_, gl_)) return false;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_texture_size_);
    using SwapInterval = BOOL(WINAPI*)(int);
    if (auto swap_interval = reinterpret_cast<SwapInterval>(
            reinterpret_cast<void*>(wglGetProcAddress("wglSwapIntervalEXT"))))
        swap_interval(1);

    repaint_ = std::make_shared<ClosableRepaint>([this] {
        if (!wake_pending_.exchange(true)) PostMessageW(hwnd_, kRepaintMessage, 0, 0);
    });
    IMGUI_CHECKVERSION();
    ImGui::CreateContext();
    ImGui::GetIO().IniFilename = nullptr;
    if (!ImGui_ImplWin32_Init(hwnd_)) return false;
    return renderer_.init();
}

void Win32Window::run(const WindowAppCreator& create_app) {
    app_ = create_app(*this);
    ShowWindow(hwnd_, SW_SHOWDEFAULT);
    UpdateWindow(hwnd_);
    while (!quit_) {
        render_frame();
        wait_for_next_frame();
    }
    app_->on_exit();
    repaint_->close();
    app_.reset();
}

void Win32Window::close() {
    if (repaint_) repaint_->close();
    if (ImGui::GetCurrentContext()) {
        if (ImGui::GetIO().BackendRendererUserData) renderer_.shutdown();
        if (ImGui::GetIO().BackendPlatformUserData) ImGui_ImplWin32_Shutdown();
        ImGui::DestroyContext();
    }
    if (gl_) {
        wglMakeCurrent(nullptr, nullptr);
        wglDeleteContext(gl_);
    }
    if (dc_) ReleaseDC(hwnd_, dc_);
    if (hwnd_) DestroyWindow(hwnd_);
    if (icon_) DestroyIcon(icon_);
    UnregisterClassW(kWindowClass, GetModuleHandleW(nullptr));
}

void Win32Window::render_frame() {
    if (!app_ || in_frame_) return;
    in_frame_ = true;
    ImGui_ImplWin32_NewFrame();
    if (app_->prepare_frame(*this)) renderer_.reload_fonts();
    renderer_.new_frame();
    ImGui::NewFrame();
    app_->update(*this);
    ImGui::Render();
    RECT client{};
    GetClientRect(hwnd_, &client);
    glViewport(0, 0, client.right - client.left, client.bottom - client.top);
    glClearColor(12 / 255.0f, 12 / 255.0f, 12 / 255.0f, 180 / 255.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    renderer_.render(ImGui::GetDrawData());
    SwapBuffers(dc_);
    in_frame_ = false;
}

void Win32Window::wait_for_next_frame() {
    DWORD timeout = INFINITE;
    if (next_frame_) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(*next_frame_ - Clock::now()).count();
        timeout = static_cast<DWORD>(std::max<long long>(0, left));
    }
    MsgWaitForMultipleObjectsEx(0, nullptr, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    wake_pending_ = false;
    next_frame_.reset();
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) quit_ = true;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

LRESULT CALLBACK Win32Window::window_procedure(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && self->hwnd_ == hwnd) return self->handle(msg, wparam, lparam);
    return DefWindowProcW(hwnd, msg, wparam, lparam);
}

LRESULT Win32Window::handle(UINT msg, WPARAM wparam, LPARAM lparam) {
    if (ImGui::GetCurrentContext() && ImGui_ImplWin32_WndProcHandler(hwnd_, msg, wparam, lparam)) return 1;
    switch (msg) {
        case WM_GETMINMAXINFO: {
            auto* limits = reinterpret_cast<MINMAXINFO*>(lparam);
            const SIZE least = outer_size(
                static_cast<int>(std::lround(options_.min_inner_width * dpi_scale())),
                static_cast<int>(std::lround(options_.min_inner_height * dpi_scale())), dpi_);
            limits->ptMinTrackSize.x = least.cx;
            limits->ptMinTrackSize.y = least.cy;
            return 0;
        }
        case WM_DPICHANGED: {
            dpi_ = HIWORD(wparam);
            const auto* suggested = reinterpret_cast<const RECT*>(lparam);
            SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                         suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        }
        case WM_ENTERSIZEMOVE: SetTimer(hwnd_, kModalLoopTimer, 16, nullptr); return 0;
        case WM_EXITSIZEMOVE: KillTimer(hwnd_, kModalLoopTimer); return 0;
        case WM_TIMER:
            if (wparam == kModalLoopTimer) render_frame();
            return 0;
        case WM_SIZE:
            if (wparam != SIZE_MINIMIZED) render_frame();
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            BeginPaint(hwnd_, &paint);
            EndPaint(hwnd_, &paint);
            render_frame();
            return 0;
        }
        case WM_ERASEBKGND: return 1;
        case WM_CLOSE:
            // The loop runs the exit callback and then tears the window down.
            PostQuitMessage(0);
            return 0;
        case kRepaintMessage: return 0;
        default: break;
    }
    return DefWindowProcW(hwnd_, msg, wparam, lparam);
}

}  // namespace

bool run_window(const WindowOptions& options, const WindowAppCreator& create_app) {
    Win32Window window(options);
    const bool opened = window.open();
    if (opened) window.run(create_app);
    window.close();
    return opened;
}

}  // namespace tarvo::platform
