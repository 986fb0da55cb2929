// Every stand-in of a Windows tool records how it was called: one JSON line
// {"tool": <name>, "args": [<arguments>...]} appended to
// <host root>/tarvo-standin.log (host root: $TARVO_HOST_ROOT, else
// /var/lib/tarvo-host).
#pragma once

#include <string>
#include <vector>

namespace tarvo::standins {

std::string call_log_path();

std::string call_log_line(const std::string& tool, const std::vector<std::string>& args);

// Appends the call in one write, so concurrent callers never interleave.
bool record_call(const std::string& tool, const std::vector<std::string>& args);

}  // namespace tarvo::standins
