// The user's tunnel operations: power-on (authorise the stored key, then bring
// the tunnel up or park it), power-off, key save and the exit teardown.
#pragma once

#include <optional>
#include <string>

#include "main/tunnel_context.h"

namespace tarvo {

// A power-off asked for: its place in the queue of tunnel operations and the
// key and mode it reports with, copied when it was asked for.
struct PowerOffRequest {
    TunnelTurn::Ticket ticket;
    std::string code;
    bool force_l3 = false;
};

// Asking for a power-on or a power-off, under the record's lock the caller
// holds (`locked` is the record of `shared`): nothing while one of the same
// kind is in progress; otherwise the operation is marked in progress at once
// (`connecting` or `disconnecting`), so the window shows it from its next
// frame and the worker leaves the tunnel alone, and it gets its place in the
// queue of tunnel operations.
//
// A power-off also clears and saves AutoConnect and copies the key and mode
// here, not when its turn comes: a power-on clicked after it, which sets
// AutoConnect and may store a new key, a key save or a mode toggle made while
// it waits must neither be undone by it nor change what it reports.
std::optional<TunnelTurn::Ticket> ask_for_power_on(SharedState& shared, AppState& locked);
std::optional<PowerOffRequest> ask_for_power_off(SharedState& shared, AppState& locked);

// One power-on attempt, once the ticket's turn has come; every outcome is
// published into the shared state.
void run_power_on(const TunnelContext& context, TunnelTurn::Ticket ticket);

// The bodies of the detached power-on and power-off threads; each waits for
// its ticket's turn.
void power_on_thread_body(TunnelContext context, TunnelTurn::Ticket ticket);
void power_off(TunnelContext context, PowerOffRequest request);

// Stores the cleaned key (`key_input` is replaced by it, `editing_key`
// cleared) and starts a status check on a detached thread.
void save_key(const TunnelContext& context, std::string& key_input, bool& editing_key);

// When the window closes: the bridge stops (with the adapter's reset) and the
// engine closes, under the lock. Nothing else changes.
void exit_teardown(const TunnelContext& context);

}  // namespace tarvo
