#include "orchestrator/endpoint.h"

namespace tarvo {

std::string_view orchestrator_host() { return TARVO_ORCHESTRATOR_HOST; }

std::string_view orchestrator_base_url() { return "https://" TARVO_ORCHESTRATOR_HOST "/tarvo"; }

}  // namespace tarvo
