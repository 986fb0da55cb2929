// What the window does to the shared state on the user's behalf: the mode
// toggle, the power-on click's key storing, the key save, Escape's restore and
// clearing the log; and the operations it starts on threads of their own,
// behind one interface so tests can record them.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "main/app_state.h"
#include "platform/window.h"

namespace tarvo {

// Starts the client's background work. The window's thread calls these; each
// start returns at once.
class ClientOperations {
public:
    virtual ~ClientOperations() = default;
    virtual void start_worker(bool auto_connect) = 0;
    virtual void start_power_on() = 0;
    virtual void start_power_off() = 0;
    virtual void start_status_check() = 0;
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

// The status label and colour after the mode toggle while the power is on,
// from the stored answer's link modes (none stored: no links).
StatusLook status_after_mode_toggle(bool now_forced_l3, const std::vector<std::string>& link_modes);

// Flips ForceL3, saves the settings, relabels the status while the power is
// on and logs the new mode. True when the power is on, so power-on restarts.
bool toggle_force_l3(SharedState& shared);

// The power-on click's cleaning: surrounding White_Space trimmed, every '-'
// and every blank (U+0020) removed, full Unicode upper case.
std::string clean_clicked_key(std::string_view typed);

// Stores the cleaned key with AutoConnect set and saves the settings.
void store_power_on_key(SharedState& shared, const std::string& cleaned);

// The key save: `key_input` becomes its normalised form; a non-empty key is
// logged (saved or warned about), stored and saved, and the next status
// check logs its first answer again. The caller starts that check.
void store_typed_key(SharedState& shared, std::string& key_input);

// The stored key, for Escape in the key editor.
std::string stored_key(SharedState& shared);

void clear_event_log(SharedState& shared);

}  // namespace tarvo
