#include "drivers/embedded_assets.h"
#include "main/start_up.h"
#include "platform/command_line.h"
#include "platform/window.h"
#include "ui/client_app.h"
#include "ui/window_icon.h"

int main(int argc, char** argv) {
    auto start = tarvo::run_start_up(tarvo::platform::process_arguments(argc, argv));
    if (start.options.no_launch) return 0;

    tarvo::platform::WindowOptions options;
    options.title = "Tarvo Enterprise Client";
    if (const auto png = tarvo::assets::find("tarvo-256.png")) options.icon = tarvo::ui::decode_window_icon(*png);
    options.inner_width = 760;
    options.inner_height = 690;
    options.min_inner_width = 620;
    options.min_inner_height = 500;
    // A window that cannot be opened ends the program quietly.
    (void)tarvo::platform::run_window(options, [&](tarvo::platform::WindowContext& window) {
        return tarvo::ui::create_app(window, start.config);
    });
    return 0;
}
