// Starting the EoIP bridge for the first L2 link of an answer, and publishing
// the outcome on the bridge's card and in the event log.
#pragma once

#include <string>

#include "main/app_state.h"
#include "orchestrator/records.h"
#include "tap_l2/l2_bridge.h"

namespace tarvo {

// Called without the lock. Holds it from the first log line until the bridge
// runs or its start has failed (the earlier bridge's stop, the child
// processes and the binds all wait under it), then takes it again to publish.
void start_l2_bridge(SharedState& shared, const BootstrapResult& result, const LinkInfo& link,
                     const std::string& probe_target,
                     BridgeStartSystem& system = system_bridge_start_system());

}  // namespace tarvo
