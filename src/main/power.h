// The user's tunnel operations: power-on (authorise the stored key, then bring
// the tunnel up or park it), power-off, key save and the exit teardown.
#pragma once

#include <optional>
#include <string>

#include "main/tunnel_context.h"

namespace tarvo {

// Asking for a power-on or a power-off, under the record's lock the caller
// holds (`locked` is the record of `shared`): nothing while one of the same
// kind is in progress; otherwise the operation is marked in progress at once
// (`connecting` or `disconnecting`), so the window shows it from its next
// frame and the worker leaves the tunnel alone, and it gets its place in the
// queue of tunnel operations.
std::optional<TunnelTurn::Ticket> ask_for_power_on(SharedState& shared, AppState& locked);
std::optional<TunnelTurn::Ticket> ask_for_power_off(SharedState& shared, AppState& locked);

// One power-on attempt, once the ticket's turn has come; every outcome is
// published into the shared state.
void run_power_on(const TunnelContext& context, TunnelTurn::Ticket ticket);

// The bodies of the detached power-on and power-off threads; each waits for
// its ticket's turn.
void power_on_thread_body(TunnelContext context, TunnelTurn::Ticket ticket);
void power_off(TunnelContext context, TunnelTurn::Ticket ticket);

// Stores the cleaned key (`key_input` is replaced by it, `editing_key`
// cleared) and starts a status check on a detached thread.
void save_key(const TunnelContext& context, std::string& key_input, bool& editing_key);

// When the window closes: the bridge stops (with the adapter's reset) and the
// engine closes, under the lock. Nothing else changes.
void exit_teardown(const TunnelContext& context);

}  // namespace tarvo
