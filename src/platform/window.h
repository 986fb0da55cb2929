// The native window: one window with an OpenGL renderer that runs the GUI
// toolkit's frame, repaints on a deadline or on request, and hands the frame
// the few window commands the client uses.
//
// Lengths are in points (logical pixels); `dpi_scale` converts them to the
// physical pixels the toolkit itself works in.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarvo::platform {

struct WindowIcon {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgba;  // width x height, 8 bits per channel
};

struct WindowOptions {
    std::string title;
    std::optional<WindowIcon> icon;
    float inner_width = 0;
    float inner_height = 0;
    float min_inner_width = 0;
    float min_inner_height = 0;
};

struct MonitorSize {
    float width = 0;
    float height = 0;
};

// Asks the window for a frame. Any thread may call it, also after the window
// has closed (it does nothing then).
class RepaintRequester {
public:
    virtual ~RepaintRequester() = default;
    virtual void request_repaint() = 0;
};

// What a frame may ask of the window; used on the window's thread only.
class WindowContext {
public:
    virtual ~WindowContext() = default;
    // The size of the monitor that shows the window, when the system tells.
    virtual std::optional<MonitorSize> monitor_size() const = 0;
    virtual void set_inner_size(float width, float height) = 0;
    virtual void set_outer_position(float x, float y) = 0;
    // The next frame comes no later than `delay` from now.
    virtual void repaint_after(std::chrono::nanoseconds delay) = 0;
    // Physical pixels per point of the window's current monitor.
    virtual float dpi_scale() const = 0;
    // The largest texture side the renderer takes (GL_MAX_TEXTURE_SIZE): 1024
    // with Microsoft's OpenGL 1.1 renderer.
    virtual int max_texture_size() const = 0;
    virtual std::shared_ptr<RepaintRequester> repaint_requester() = 0;
};

// The application the window runs.
class WindowApp {
public:
    virtual ~WindowApp() = default;
    // Before each frame, outside the toolkit's frame: the app may rebuild the
    // toolkit's font atlas, and then returns true so the renderer uploads it.
    virtual bool prepare_frame(WindowContext& window) = 0;
    // The per-frame update, between the toolkit's frame start and its render.
    virtual void update(WindowContext& window) = 0;
    // Once, when the window closes, before the app is dropped.
    virtual void on_exit() = 0;
};

// Called once the window and the toolkit context exist.
using WindowAppCreator = std::function<std::unique_ptr<WindowApp>(WindowContext&)>;

// Opens the window (centred, vertical sync on), runs it until the user closes
// it and returns true; false when the window could not be opened.
bool run_window(const WindowOptions& options, const WindowAppCreator& create_app);

}  // namespace tarvo::platform
