// The real write-then-load path: the linux build's embedded wireguard.dll
// (the stand-in library) is written under the host root, loaded and driven.
// Outside a namespace of the project it keeps the adapter in memory.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "drivers/embedded_files.h"
#include "platform/paths.h"
#include "support/host_root.h"
#include "support/immutable_file.h"
#include "support/temp_folder.h"
#include "support/wg_start_inputs.h"
#include "wg_engine/wg_config_block.h"
#include "wg_engine/wg_engine.h"

namespace tarvo {
namespace {

std::string file_text(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(WgEngineStandin, StartsReadsCountersAndClosesThroughTheWrittenLibrary) {
    testing::ScopedHostRoot root;
    ::unsetenv("TARVO_NETNS");
    WgEngine engine;
    const auto started = start_wg_engine(engine, testing::sample_start_inputs());
    ASSERT_TRUE(started) << started.error();
    ASSERT_NE(engine.adapter, nullptr);
    ASSERT_NE(engine.get_configuration, nullptr);

    std::uint32_t size = 0;
    EXPECT_EQ(engine.get_configuration(engine.adapter, nullptr, &size), 0);
    EXPECT_EQ(size, 264u);  // the size needed
    std::vector<std::uint8_t> buffer(size);
    ASSERT_NE(engine.get_configuration(engine.adapter, buffer.data(), &size), 0);
    EXPECT_EQ(read_first_peer_traffic(buffer), (WgPeerTraffic{0, 0}));
    EXPECT_EQ(buffer[160], 192);  // the endpoint it was given

    close_wg_engine(engine);
    EXPECT_EQ(engine.adapter, nullptr);
    const std::string log = file_text(root.path() / "tarvo-standin.log");
    EXPECT_NE(
        log.find(
            R"({"tool": "wireguard.dll", "args": ["WireGuardCreateAdapter", "tarvo-client", "WireGuard", )"
            R"("E0C18A5D05229A4B9122102000002500"]})"),
        std::string::npos)
        << log;
    EXPECT_NE(log.find(R"("args": ["WireGuardSetConfiguration", "tarvo-client", "264"])"), std::string::npos);
    EXPECT_NE(log.find(R"("args": ["WireGuardSetAdapterState", "tarvo-client", "0"])"), std::string::npos);
    EXPECT_NE(log.find(R"("args": ["WireGuardCloseAdapter", "tarvo-client", "created"])"), std::string::npos);
}

// A library that differs from the embedded copy and cannot be replaced (in
// use) fails the bring-up at the extraction: it is never loaded.
TEST(WgEngineStandin, ALibraryOfTheRightSizeButOtherContentIsNotLoaded) {
    testing::ScopedHostRoot root;
    ::unsetenv("TARVO_NETNS");
    ASSERT_TRUE(extract_embedded_files().has_value());
    const std::string embedded = testing::read_bytes(wireguard_dll_path());
    std::string other = embedded;
    other[other.size() / 2] ^= 1;  // still a library that loads
    testing::write_bytes(wireguard_dll_path(), other);
    testing::ImmutableFile in_use(wireguard_dll_path());
    if (!in_use.ok()) GTEST_SKIP() << "cannot make a file immutable here (needs root on ext2/3/4)";

    WgEngine engine;
    const auto started = start_wg_engine(engine, testing::sample_start_inputs());
    ASSERT_FALSE(started);
    EXPECT_EQ(started.error().rfind("Błąd tworzenia " + platform::path_text(wireguard_dll_path()) + ": ", 0), 0u)
        << started.error();
    EXPECT_EQ(engine.adapter, nullptr);
    EXPECT_EQ(file_text(root.path() / "tarvo-standin.log").find("WireGuardCreateAdapter"), std::string::npos);
}

}  // namespace
}  // namespace tarvo
