// The user's tunnel operations: power-on (authorise the stored key, then bring
// the tunnel up or park it), power-off, key save and the exit teardown.
#pragma once

#include <string>

#include "main/tunnel_context.h"

namespace tarvo {

// One power-on attempt; every outcome is published into the shared state.
// Waits for its turn when another tunnel operation runs.
void run_power_on(const TunnelContext& context);

// The bodies of the detached power-on and power-off threads.
void power_on_thread_body(TunnelContext context);
void power_off(TunnelContext context);

// Stores the cleaned key (`key_input` is replaced by it, `editing_key`
// cleared) and starts a status check on a detached thread.
void save_key(const TunnelContext& context, std::string& key_input, bool& editing_key);

// When the window closes: the bridge stops (with the adapter's reset) and the
// engine closes, under the lock. Nothing else changes.
void exit_teardown(const TunnelContext& context);

}  // namespace tarvo
