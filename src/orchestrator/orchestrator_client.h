// The two requests the client makes of the orchestrator: the sync request,
// which reports the device's power state and counters and returns its
// configuration, and the reachability request.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "orchestrator/records.h"
#include "platform/http.h"
#include "util/expected.h"

namespace tarvo {

// Where the requests go. The program uses `production_orchestrator()`; tests
// and the simulated network name another server and trust its CA.
struct OrchestratorEndpoint {
    std::string host;            // shown in status texts
    std::string base_url;        // "https://{host}/tarvo", requests append their paths
    std::string ca_bundle_path;  // tests only
    std::vector<platform::HostAddress> resolve_override;  // tests only
};

const OrchestratorEndpoint& production_orchestrator();

// What a sync request reports about the device.
struct SyncReport {
    bool power_on = false;
    bool force_l3 = false;
    bool wg_running = false;
    bool l2_running = false;
    std::uint64_t rx_bytes = 0;
    std::uint64_t tx_bytes = 0;
};

inline constexpr std::string_view kMalformedCodeText =
    "Podaj 12-znakowy klucz urządzenia lub kod przepustki PASS-48H-...";

// "/api/control/sync?code=...&tx_bytes=..." for an already normalised code.
std::string sync_path(std::string_view normalized_code, const SyncReport& report);

// One sync request (6-s deadline). `code` may be raw text: it is normalised
// and checked first, and a malformed code sends nothing. Returns the answer or
// a ready Polish error text.
Expected<BootstrapResult, std::string> sync_with_orchestrator(const OrchestratorEndpoint& endpoint,
                                                              std::string_view code,
                                                              const SyncReport& report);

// The reachability request (5-s deadline): true when it ended with a final
// status below 400. The body is never read.
bool is_orchestrator_reachable(const OrchestratorEndpoint& endpoint);

}  // namespace tarvo
