// The window's application object and the values of one frame.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "main/app_state.h"
#include "main/window_actions.h"
#include "platform/window.h"
#include "ui/fonts.h"
#include "ui/layout.h"

namespace tarvo::ui {

struct ClientApp {
    ClientApp(std::string key, std::shared_ptr<SharedState> shared, std::unique_ptr<ClientOperations> ops,
              FontFaces faces)
        : key_input(std::move(key)),
          started(std::chrono::steady_clock::now()),
          state(std::move(shared)),
          operations(std::move(ops)),
          fonts(std::move(faces)) {}

    std::string key_input;
    std::chrono::steady_clock::time_point started;
    std::shared_ptr<SharedState> state;
    bool editing_key = false;
    bool focus_key_pending = false;
    bool window_sized = false;
    std::unique_ptr<ClientOperations> operations;
    FontCache fonts;
};

// What the frame computes and the main panel uses.
struct FrameValues {
    float animation_time = 0;
    FrameLayout layout;
    float px = 1;  // physical pixels per point
    bool force_l3_toggle_requested = false;
    bool power_on_requested = false;
    bool power_off_requested = false;
};

// Stores the typed key (normalised), closes the editor and starts a status check.
void save_key(ClientApp& app);

// Draws the five sections into the current toolkit window.
void draw_main_panel(ClientApp& app, FrameValues& frame, bool in_scroll_area);

// The central panel over the whole window with the main panel inside, in the
// root scroll area when the content does not fit.
void draw_window_contents(ClientApp& app, FrameValues& frame);

// The per-frame update: sizing, style, repaint, layout, the panel, then the
// requests the panel set.
void update_frame(ClientApp& app, platform::WindowContext& window);

// Acts on the frame's request flags, after drawing.
void act_on_requests(ClientApp& app, const FrameValues& frame);

// The window's application over a built ClientApp; bakes a first font of each
// family so the first frame has something to draw with, and every later one
// within the renderer's largest texture.
std::unique_ptr<platform::WindowApp> make_window_app(std::unique_ptr<ClientApp> app, float dpi_scale,
                                                     int max_texture_size);

// Title "Tarvo Enterprise Client", the carried icon (none when it does not
// decode), inner size 760 x 690, smallest inner size 620 x 500.
platform::WindowOptions main_window_options();

// Builds the app for a window: fonts, the shared state with its first log
// line, the worker, the application object.
std::unique_ptr<platform::WindowApp> create_app(platform::WindowContext& window, ClientConfig config);

}  // namespace tarvo::ui
