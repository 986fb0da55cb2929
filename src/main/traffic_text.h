// The texts of the traffic telemetry: rates and byte totals in 1024-based
// units with a decimal point and no thousands separators.
#pragma once

#include <cstdint>
#include <string>

namespace tarvo {

// "512 B/s", "1.5 KB/s", "1.0 MB/s".
std::string format_rate(double bytes_per_second);

// "1023 B", "1.0 KB", "1024.0 KB", "1.00 GB".
std::string format_bytes(std::uint64_t bytes);

}  // namespace tarvo
