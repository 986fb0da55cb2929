// The L2 bridge: its threads, the shared cells they count into, and the TAP
// device and GRE socket they use; and the mechanism that prepares the TAP
// adapter and starts the bridge, which knows nothing of the shared state.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "drivers/hidden_command.h"
#include "platform/gre_socket.h"
#include "platform/tap_device.h"
#include "util/expected.h"

namespace tarvo {

struct L2Bridge {
    std::vector<std::thread> threads;  // three while the bridge runs
    std::shared_ptr<std::atomic<bool>> running = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<std::uint64_t>> rx_bytes = std::make_shared<std::atomic<std::uint64_t>>(0);
    std::shared_ptr<std::atomic<std::uint64_t>> tx_bytes = std::make_shared<std::atomic<std::uint64_t>>(0);
    std::unique_ptr<platform::TapDevice> tap;     // none when null
    std::unique_ptr<platform::GreSocket> socket;  // none when null
};

// Starts the TAP adapter's return to idle on a thread of its own.
void start_tap_adapter_reset();

// Clears the running flag, cancels the device's pending I/O and sets its media
// state to disconnected, joins every thread and only then closes the device
// and the socket, so no thread uses either after it is closed. With `reset`
// the adapter's reset is started through `start_reset`, even for an idle
// bridge. The counters keep their values.
void stop_l2_bridge(L2Bridge& bridge, bool reset,
                    const std::function<void()>& start_reset = start_tap_adapter_reset);

// What the start derives from the orchestrator's answer.
struct BridgeStartInputs {
    std::uint16_t tunnel_id = 0;
    std::string hub_address;  // the hub's tunnel address text
    std::string tap_address;  // the TAP adapter's address text, possibly empty
    std::string wg_ip;        // this machine's tunnel address text
};

// The system the start works on; tests record it.
class BridgeStartSystem {
public:
    virtual ~BridgeStartSystem() = default;

    // Returns once no TAP adapter reset from an earlier stop is running.
    virtual void wait_until_no_reset_runs() = 0;
    virtual CommandOutput run_hidden(std::string_view program, const std::vector<std::string>& args) = 0;
    virtual Expected<std::string, std::string> ensure_tap_driver() = 0;
    virtual Expected<std::unique_ptr<platform::TapDevice>, platform::TapError> open_tap_device(
        std::string_view guid) = 0;
    virtual void start_socket_library() = 0;
    virtual Expected<std::unique_ptr<platform::GreSocket>, platform::OsError> open_gre_socket() = 0;
    // The 250-ms pause after a failed bind.
    virtual void pause_after_failed_bind() = 0;
};

BridgeStartSystem& system_bridge_start_system();

// Stops the earlier bridge (without reset), waits for a running adapter reset,
// readies the adapter (firewall rule, enabled, address), opens its device with
// the media state connected, opens and binds the GRE socket, learns the MAC
// address and starts the three threads. The adapter's GUID, or the failed
// step's ready error text with everything opened by then closed again.
Expected<std::string, std::string> launch_l2_bridge(L2Bridge& bridge, const BridgeStartInputs& inputs,
                                                    BridgeStartSystem& system);

}  // namespace tarvo
