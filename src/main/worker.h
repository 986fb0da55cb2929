// The worker: the client's background clock. It checks the orchestrator at
// start, connects by itself when asked, and then every 2.5 s samples the
// traffic and either polls the orchestrator (power on) or checks the status.
#pragma once

#include <chrono>

#include "main/tunnel_context.h"

namespace tarvo {

inline constexpr std::chrono::nanoseconds kWorkerPeriod = std::chrono::seconds(2) +
                                                          std::chrono::milliseconds(500);

// One cycle after the sleep: sample, copy, then poll or check as the copies say.
void run_worker_cycle(const TunnelContext& context);

// The start: the status check, then the auto-connect power-on when asked and
// no power-on or power-off has been clicked meanwhile.
void run_worker_start(const TunnelContext& context, bool auto_connect);

// The worker thread's body: the start, then a cycle every period, for ever.
[[noreturn]] void worker_loop(TunnelContext context, bool auto_connect);

// The body of the status-check thread a key save starts.
void status_check_thread_body(TunnelContext context);

}  // namespace tarvo
