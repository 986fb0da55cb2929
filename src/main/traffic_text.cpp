#include "main/traffic_text.h"

#include <cstdio>

namespace tarvo {
namespace {

constexpr double kKiB = 1024.0;
constexpr double kMiB = kKiB * 1024.0;
constexpr double kGiB = kMiB * 1024.0;

std::string with_unit(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

// Thresholds are tested before rounding, so 1023.6 B/s reads "1024 B/s".
std::string format_rate(double bytes_per_second) {
    if (bytes_per_second >= kMiB) return with_unit("%.1f MB/s", bytes_per_second / kMiB);
    if (bytes_per_second >= kKiB) return with_unit("%.1f KB/s", bytes_per_second / kKiB);
    return with_unit("%.0f B/s", bytes_per_second);
}

std::string format_bytes(std::uint64_t bytes) {
    const auto value = static_cast<double>(bytes);
    if (value >= kGiB) return with_unit("%.2f GB", value / kGiB);
    if (value >= kMiB) return with_unit("%.1f MB", value / kMiB);
    if (value >= kKiB) return with_unit("%.1f KB", value / kKiB);
    return std::to_string(bytes) + " B";
}

}  // namespace tarvo
