// What the window does to the shared state on the user's behalf: the mode
// toggle, the power-on click's key storing, Escape's restore and clearing the
// log; and the tunnel operations it starts, behind one interface so tests can
// record them.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "main/app_state.h"
#include "main/power.h"
#include "orchestrator/records.h"
#include "platform/window.h"

namespace tarvo {

// The client's tunnel operations as the window starts them, on its own thread;
// each returns at once, the work runs on a detached thread. A power-on or
// power-off is started with what its click got (click_power_on,
// click_power_off, toggle_force_l3) and waits there for its turn.
class ClientOperations {
public:
    virtual ~ClientOperations() = default;
    virtual void start_worker(bool auto_connect) = 0;
    virtual void start_power_on(TunnelTurn::Ticket ticket) = 0;
    virtual void start_power_off(PowerOffRequest request) = 0;
    // The key save: `key_input` becomes its normalised form and is stored,
    // the editor closes, and a status check starts.
    virtual void save_key(std::string& key_input, bool& editing_key) = 0;
    // On the window's thread when it closes: stops the bridge (with the TAP
    // adapter's reset) and closes the WireGuard-NT adapter.
    virtual void tear_down_on_exit() = 0;
};

std::unique_ptr<ClientOperations> make_client_operations(std::shared_ptr<SharedState> shared,
                                                         std::shared_ptr<platform::RepaintRequester> repaint);

struct StatusLook {
    std::string label;
    Color color;
    friend bool operator==(const StatusLook&, const StatusLook&) = default;
};

// The status label and colour after the mode toggle while the power is on:
// the bring-up's label for a device key under the new mode, from the stored
// answer's links (none stored: no links), green for automatic, amber forced.
StatusLook status_after_mode_toggle(bool now_forced_l3, const std::optional<BootstrapResult>& stored);

// Flips ForceL3, saves the settings, relabels the status while the power is
// on and logs the new mode. While the power is on, the power-on that restarts
// the tunnel in the new mode is asked for: its ticket. A power-on or
// power-off waiting for its turn counts as having begun, so the power is not
// on for the toggle: a waiting power-on takes the new mode itself, and a
// waiting power-off is not undone.
std::optional<TunnelTurn::Ticket> toggle_force_l3(SharedState& shared);

// The power-on click's cleaning: surrounding White_Space trimmed, every '-'
// and every blank (U+0020) removed, full Unicode upper case.
std::string clean_clicked_key(std::string_view typed);

// The power-on click: nothing while a power-on is in progress; otherwise
// `key_input` is cleaned (clean_clicked_key) and stored with AutoConnect set,
// the settings are saved and the power-on is asked for: its ticket.
std::optional<TunnelTurn::Ticket> click_power_on(SharedState& shared, std::string& key_input);

// The power-off click: nothing while a power-off is in progress; otherwise the
// power-off is asked for (ask_for_power_off).
std::optional<PowerOffRequest> click_power_off(SharedState& shared);

// The stored key, for Escape in the key editor.
std::string stored_key(SharedState& shared);

void clear_event_log(SharedState& shared);

}  // namespace tarvo
