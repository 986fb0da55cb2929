// Where the orchestrator is. The base URL is fixed when the program is built;
// nothing a user can set at run time changes it.
#pragma once

#include <string_view>

namespace tarvo {

// "orchestrator.example" style host name of the orchestrator.
std::string_view orchestrator_host();

// "https://" + host + "/tarvo", no trailing slash.
std::string_view orchestrator_base_url();

}  // namespace tarvo
