// A power-on or power-off asked for as the window's click asks for it, then
// run to its end on the calling thread.
#pragma once

#include <optional>

#include "main/power.h"

namespace tarvo::testing {

// False when refused: one of the same kind was already in progress.
template <class Ask, class Run>
bool ask_and_run(const TunnelContext& context, Ask ask, Run run) {
    auto asked = [&] {
        auto state = context.shared->lock();
        return ask(*context.shared, *state);
    }();
    if (!asked) return false;
    run(context, std::move(*asked));
    return true;
}

inline bool power_on_now(const TunnelContext& context) {
    return ask_and_run(context, ask_for_power_on, run_power_on);
}

inline bool power_off_now(const TunnelContext& context) {
    return ask_and_run(context, ask_for_power_off, power_off);
}

}  // namespace tarvo::testing
