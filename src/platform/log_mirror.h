// A developer's copy of the event log. Only the linux build has one: with
// TARVO_DEV_LOG_STDERR=1 in its environment, each log line also goes to
// standard error, so the simulated network's launcher can show the log as the
// window does. The Windows product never mirrors anything.
#pragma once

#include <string_view>

namespace tarvo::platform {

// Whether lines are mirrored; decided once per process.
bool log_mirror_enabled();

// Writes one line (a line break is added) when mirroring is enabled, its
// controls and ill-formed bytes escaped (text::escape_controls).
void mirror_log_line(std::string_view line);

}  // namespace tarvo::platform
