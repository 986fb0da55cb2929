#include "main/traffic_text.h"

#include <gtest/gtest.h>

namespace tarvo {
namespace {

TEST(FormatRate, UnitsAndThresholds) {
    const struct {
        double rate;
        const char* text;
    } cases[] = {
        {0, "0 B/s"},
        {512.4, "512 B/s"},
        {1023.6, "1024 B/s"},  // threshold before rounding
        {1024, "1.0 KB/s"},
        {1536, "1.5 KB/s"},
        {1048575, "1024.0 KB/s"},
        {1048576, "1.0 MB/s"},
        {5.0 * 1024 * 1024 * 1024, "5120.0 MB/s"},  // no GB for rates
    };
    for (const auto& c : cases) EXPECT_EQ(format_rate(c.rate), c.text) << c.rate;
}

TEST(FormatBytes, UnitsAndThresholds) {
    const struct {
        std::uint64_t bytes;
        const char* text;
    } cases[] = {
        {0, "0 B"},
        {1023, "1023 B"},
        {1024, "1.0 KB"},
        {1048575, "1024.0 KB"},
        {1048576, "1.0 MB"},
        {1073741823, "1024.0 MB"},
        {1073741824, "1.00 GB"},
        {1610612736, "1.50 GB"},
        {UINT64_MAX, "17179869184.00 GB"},
    };
    for (const auto& c : cases) EXPECT_EQ(format_bytes(c.bytes), c.text) << c.bytes;
}

}  // namespace
}  // namespace tarvo
