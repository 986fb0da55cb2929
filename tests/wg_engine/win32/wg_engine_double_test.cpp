// A whole start and close through the real write-then-load path: the windows
// stand-in build embeds a double of wireguard.dll that records what it
// receives, which proves the calling convention, the UTF-16 names and the
// configuration block as the library sees them.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "drivers/embedded_files.h"
#include "platform/library.h"
#include "support/wg_start_inputs.h"
#include "wg_engine/ipv4_cidr.h"
#include "wg_engine/wg_config_block.h"
#include "wg_engine/wg_engine.h"

namespace tarvo {
namespace {

std::vector<std::string> double_calls() {
    const auto library = platform::load_library(wireguard_dll_path());
    if (!library) return {};
    using CallsFn = std::uint32_t (*)(char*, std::uint32_t);
    const auto calls = reinterpret_cast<CallsFn>(
        platform::library_symbol(*library, "TarvoWireGuardDoubleCalls"));
    if (!calls) return {};
    std::string text(calls(nullptr, 0), '\0');
    calls(text.data(), static_cast<std::uint32_t>(text.size()));
    std::vector<std::string> lines;
    std::istringstream in(text.c_str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string hex(const std::vector<std::uint8_t>& bytes) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    for (const std::uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

TEST(WgEngineDouble, AWholeStartAndCloseReachTheLibraryAsSent) {
    WgEngine engine;
    const auto started = start_wg_engine(engine, testing::sample_start_inputs());
    ASSERT_TRUE(started) << started.error();

    std::uint32_t size = 0;
    EXPECT_EQ(engine.get_configuration(engine.adapter, nullptr, &size), 0);
    ASSERT_EQ(size, 264u);
    std::vector<std::uint8_t> read_back(size);
    ASSERT_NE(engine.get_configuration(engine.adapter, read_back.data(), &size), 0);
    EXPECT_EQ(read_first_peer_traffic(read_back), (WgPeerTraffic{0, 0}));
    close_wg_engine(engine);

    const Ipv4Cidr allowed[] = {{{10, 200, 0, 0}, 24}, {{10, 254, 0, 0}, 16}};
    const auto block = build_wg_config_block(testing::counting_key(0), testing::counting_key(0x20),
                                             {{192, 0, 2, 1}, 51820}, allowed);
    const std::vector<std::string> expected = {
        "WireGuardOpenAdapter tarvo-client",
        "WireGuardCreateAdapter tarvo-client WireGuard E0C18A5D05229A4B9122102000002500",
        "WireGuardSetConfiguration tarvo-client 264 " + hex(block),
        "WireGuardSetAdapterState tarvo-client 1",
        "WireGuardSetAdapterState tarvo-client 0",
        "WireGuardCloseAdapter tarvo-client created",
    };
    const auto calls = double_calls();
    ASSERT_GE(calls.size(), expected.size());
    // Earlier tests of this process may have called it too: the last calls are this test's.
    EXPECT_EQ(
        std::vector<std::string>(calls.end() - static_cast<std::ptrdiff_t>(expected.size()), calls.end()),
        expected);
}

}  // namespace
}  // namespace tarvo
