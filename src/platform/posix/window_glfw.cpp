// The window over GLFW and OpenGL 3.
#include <GLFW/glfw3.h>
#include <imgui.h>
#include <imgui_impl_glfw.h>
#include <imgui_impl_opengl3.h>

#include <algorithm>
#include <atomic>
#include <cmath>

#include "platform/closable_repaint.h"
#include "platform/window.h"

namespace tarvo::platform {

namespace {

using Clock = std::chrono::steady_clock;

class GlfwWindow final : public WindowContext {
public:
    explicit GlfwWindow(GLFWwindow* window)
        : window_(window), repaint_(std::make_shared<ClosableRepaint>([this] {
              // Coalesced: one empty event wakes the loop however many threads ask.
              if (!wake_pending_.exchange(true)) glfwPostEmptyEvent();
          })) {
        glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_texture_size_);  // the context is current
    }

    std::optional<MonitorSize> monitor_size() const override {
        GLFWmonitor* monitor = glfwGetPrimaryMonitor();
        const GLFWvidmode* mode = monitor ? glfwGetVideoMode(monitor) : nullptr;
        if (!mode) return std::nullopt;
        const float scale = dpi_scale();
        return MonitorSize{static_cast<float>(mode->width) / scale, static_cast<float>(mode->height) / scale};
    }

    void set_inner_size(float width, float height) override {
        const float scale = dpi_scale();
        glfwSetWindowSize(window_, static_cast<int>(std::lround(width * scale)),
                          static_cast<int>(std::lround(height * scale)));
    }

    // GLFW places the inner area; the frame the window manager adds (none
    // under Xvfb) is added so the outer corner lands at (x, y).
    void set_outer_position(float x, float y) override {
        const float scale = dpi_scale();
        int left = 0, top = 0, right = 0, bottom = 0;
        glfwGetWindowFrameSize(window_, &left, &top, &right, &bottom);
        glfwSetWindowPos(window_, static_cast<int>(std::lround(x * scale)) + left,
                         static_cast<int>(std::lround(y * scale)) + top);
    }

    void repaint_after(std::chrono::nanoseconds delay) override {
        const auto at = Clock::now() + std::chrono::duration_cast<Clock::duration>(delay);
        next_frame_ = next_frame_ ? std::min(*next_frame_, at) : at;
    }

    float dpi_scale() const override {
        float x = 1, y = 1;
        glfwGetWindowContentScale(window_, &x, &y);
        return x > 0 ? x : 1.0f;
    }

    int max_texture_size() const override { return max_texture_size_; }

    std::shared_ptr<RepaintRequester> repaint_requester() override { return repaint_; }

    // Sleeps until input, a repaint request or the requested frame time.
    void wait_for_next_frame() {
        if (next_frame_) {
            const auto left = std::chrono::duration<double>(*next_frame_ - Clock::now()).count();
            if (left > 0) glfwWaitEventsTimeout(left);
            else glfwPollEvents();
        } else {
            glfwWaitEvents();
        }
        wake_pending_ = false;
        next_frame_.reset();
    }

    void close_repaint() { repaint_->close(); }

private:
    GLFWwindow* window_;
    std::atomic<bool> wake_pending_{false};
    std::shared_ptr<ClosableRepaint> repaint_;
    std::optional<Clock::time_point> next_frame_;
    GLint max_texture_size_ = 0;
};

void centre_on_primary_monitor(GLFWwindow* window) {
    GLFWmonitor* monitor = glfwGetPrimaryMonitor();
    const GLFWvidmode* mode = monitor ? glfwGetVideoMode(monitor) : nullptr;
    if (!mode) return;
    int width = 0, height = 0;
    glfwGetWindowSize(window, &width, &height);
    glfwSetWindowPos(window, std::max(0, (mode->width - width) / 2),
                     std::max(0, (mode->height - height) / 2));
}

void set_icon(GLFWwindow* window, const std::optional<WindowIcon>& icon) {
    if (!icon || icon->rgba.empty()) return;
    GLFWimage image{icon->width, icon->height, const_cast<unsigned char*>(icon->rgba.data())};
    glfwSetWindowIcon(window, 1, &image);
}

void render_frame(GLFWwindow* window, GlfwWindow& context, WindowApp& app) {
    ImGui_ImplGlfw_NewFrame();
    if (app.prepare_frame(context)) {
        ImGui_ImplOpenGL3_DestroyFontsTexture();
        ImGui_ImplOpenGL3_CreateFontsTexture();
    }
    ImGui_ImplOpenGL3_NewFrame();
    ImGui::NewFrame();
    app.update(context);
    ImGui::Render();
    int width = 0, height = 0;
    glfwGetFramebufferSize(window, &width, &height);
    glViewport(0, 0, width, height);
    glClearColor(12 / 255.0f, 12 / 255.0f, 12 / 255.0f, 180 / 255.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
    glfwSwapBuffers(window);
}

}  // namespace

bool run_window(const WindowOptions& options, const WindowAppCreator& create_app) {
    if (!glfwInit()) return false;
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 0);
    glfwWindowHint(GLFW_SCALE_TO_MONITOR, GLFW_TRUE);
    GLFWwindow* window = glfwCreateWindow(static_cast<int>(options.inner_width),
                                          static_cast<int>(options.inner_height), options.title.c_str(),
                                          nullptr, nullptr);
    if (!window) {
        glfwTerminate();
        return false;
    }
    glfwMakeContextCurrent(window);
    glfwSwapInterval(1);
    glfwSetWindowTitle(window, options.title.c_str());
    set_icon(window, options.icon);
    GlfwWindow context(window);
    const float scale = context.dpi_scale();
    glfwSetWindowSizeLimits(window, static_cast<int>(std::lround(options.min_inner_width * scale)),
                            static_cast<int>(std::lround(options.min_inner_height * scale)), GLFW_DONT_CARE,
                            GLFW_DONT_CARE);
    centre_on_primary_monitor(window);

    IMGUI_CHECKVERSION();
    ImGui::CreateContext();
    ImGui::GetIO().IniFilename = nullptr;
    ImGui_ImplGlfw_InitForOpenGL(window, true);
    const bool renderer_ready = ImGui_ImplOpenGL3_Init("#version 130");
    if (renderer_ready) {
        std::unique_ptr<WindowApp> app = create_app(context);
        while (!glfwWindowShouldClose(window)) {
            render_frame(window, context, *app);
            context.wait_for_next_frame();
        }
        app->on_exit();
        context.close_repaint();
        app.reset();
        ImGui_ImplOpenGL3_Shutdown();
    }
    context.close_repaint();
    ImGui_ImplGlfw_Shutdown();
    ImGui::DestroyContext();
    glfwDestroyWindow(window);
    glfwTerminate();
    return renderer_ready;
}

}  // namespace tarvo::platform
