#include <cstdio>
#include <cstdlib>

#include "main/start_up.h"
#include "platform/command_line.h"
#include "platform/library.h"
#include "platform/window.h"
#include "ui/client_app.h"

int main(int argc, char** argv) {
    // Before anything is loaded at run time: no library by bare name from the
    // program's own folder, which is the installed copy's program-data folder.
    tarvo::platform::restrict_library_search();
    const auto start = tarvo::run_start_up(tarvo::platform::process_arguments(argc, argv));
    if (start.options.no_launch) return 0;
    // A window that cannot be opened ends the program quietly, with exit code 0.
    (void)tarvo::platform::run_window(
        tarvo::ui::main_window_options(),
        [&](tarvo::platform::WindowContext& window) { return tarvo::ui::create_app(window, start.config); });
    // The worker and any power-on or power-off thread still run and use
    // objects of static lifetime: end the process without destroying those
    // under them.
    std::fflush(nullptr);
    std::_Exit(0);
}
