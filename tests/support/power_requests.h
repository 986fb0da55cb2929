// A power-on or power-off asked for as the window's click asks for it, then
// run to its end on the calling thread.
#pragma once

#include <optional>

#include "main/power.h"

namespace tarvo::testing {

// False when refused: one of the same kind was already in progress.
inline bool power_on_now(const TunnelContext& context) {
    std::optional<TunnelTurn::Ticket> ticket;
    {
        auto state = context.shared->lock();
        ticket = ask_for_power_on(*context.shared, *state);
    }
    if (!ticket) return false;
    run_power_on(context, std::move(*ticket));
    return true;
}

inline bool power_off_now(const TunnelContext& context) {
    std::optional<TunnelTurn::Ticket> ticket;
    {
        auto state = context.shared->lock();
        ticket = ask_for_power_off(*context.shared, *state);
    }
    if (!ticket) return false;
    power_off(context, std::move(*ticket));
    return true;
}

}  // namespace tarvo::testing
