// The status check: while the tunnel is off, asks the orchestrator about the
// stored code and fills the orchestrator card, logging the first success.
#pragma once

#include "main/app_state.h"
#include "orchestrator/orchestrator_client.h"

namespace tarvo {

// Takes the lock only to copy the code and to publish; never across a request.
void check_orchestrator_status(SharedState& shared, const OrchestratorEndpoint& endpoint);

// The orchestrator card's text for an answer: "PASS OK (ID #n)" for a pass,
// else "HTTPS OK (ID #n)".
std::string answered_card_text(const BootstrapResult& answer);

}  // namespace tarvo
