// The client without its window, for the simulated network's end-to-end
// tests: the program's start-up with its command line, then the worker
// (with its auto-connect power-on) against the program's own orchestrator,
// until SIGINT or SIGTERM; then the teardown the window's exit runs.
//   headless_client [client options...]
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "main/power.h"
#include "main/start_up.h"
#include "main/worker.h"
#include "orchestrator/access_code.h"
#include "platform/command_line.h"

int main(int argc, char** argv) {
    using namespace tarvo;
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // before any thread starts

    const auto start = run_start_up(platform::process_arguments(argc, argv));
    TunnelContext context;
    context.shared = create_shared_state(start.config);
    context.endpoint = production_orchestrator();
    const bool auto_connect = start.config.AutoConnect && is_valid_access_code(start.config.DeviceCode);
    std::thread(worker_loop, context, auto_connect).detach();

    int received = 0;
    sigwait(&signals, &received);
    exit_teardown(context);
    std::fflush(nullptr);
    std::_Exit(0);  // the worker still runs
}
