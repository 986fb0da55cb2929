// Driver installation and adapter reset against the linux stand-ins: the
// embedded tapinstall.exe stand-in and netsh/powershell in the host's System32.
#include "drivers/tap_driver.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <latch>
#include <mutex>
#include <thread>

#include "drivers/embedded_files.h"
#include "drivers/tap_adapter.h"
#include "platform/paths.h"
#include "platform/posix/registry_files.h"
#include "support/immutable_file.h"
#include "support/standin_host.h"

namespace tarvo {
namespace {

using testing::call;

const std::string kGuid = "{0B8F1C2D-3E4F-4A5B-9C6D-7E8F90A1B2C3}";
const std::string kDisableScript =
    "Get-NetAdapter -IncludeHidden | Where-Object { $_.InterfaceDescription -like '*TAP-Windows*' -or "
    "$_.Name -eq "
    "'SD-WAN-L2' } | Disable-NetAdapter -Confirm:$false -ErrorAction SilentlyContinue";

void seed_adapter(const std::string& guid) {
    const std::string key = std::string(platform::kNetworkAdapterClassKey) + "\\0007";
    ASSERT_TRUE(platform::write_registry_value(key, "ComponentId", "tap0901").has_value());
    ASSERT_TRUE(platform::write_registry_value(key, "NetCfgInstanceId", guid).has_value());
}

std::string dhcp_call(const std::string& guid) {
    return call("netsh", {"interface", "ipv4", "set", "address", "name=" + guid, "source=dhcp"});
}
const std::string kDisableCall = call("powershell", {"-NoProfile", "-Command", kDisableScript});

class ScopedOutcome {
public:
    explicit ScopedOutcome(const char* outcome) {
        if (outcome) ::setenv("TARVO_TAPINSTALL_OUTCOME", outcome, 1);
    }
    ~ScopedOutcome() { ::unsetenv("TARVO_TAPINSTALL_OUTCOME"); }
};

std::string installer_call() {
    const auto driver = platform::host_path("C:\\ProgramData\\TARVO\\driver");
    return call("tapinstall.exe", {"install", platform::path_text(driver / "OemVista.inf"), "tap0901"});
}

TEST(ResetTapAdapter, WithAnAdapterReturnsItToDhcpThenDisablesTheTapAdapters) {
    testing::StandinHost host;
    seed_adapter(kGuid);
    reset_tap_adapter();
    EXPECT_EQ(host.calls(), (std::vector<std::string>{dhcp_call(kGuid), kDisableCall}));
}

TEST(ResetTapAdapter, WithoutAnAdapterOnlyDisables) {
    testing::StandinHost host;
    seed_adapter("{not-a-guid}; Remove-Item C:\\");
    reset_tap_adapter();
    EXPECT_EQ(host.calls(), (std::vector<std::string>{kDisableCall}));
}

TEST(EnsureTapDriver, AnAdapterPresentIsReturnedWithoutInstalling) {
    testing::StandinHost host;
    seed_adapter(kGuid);
    EXPECT_EQ(ensure_tap_driver().value(), kGuid);
    EXPECT_TRUE(host.calls().empty());
    EXPECT_TRUE(
        std::filesystem::exists(platform::host_path("C:\\ProgramData\\TARVO\\driver\\tapinstall.exe")));
}

struct InstallCase {
    const char* name;
    const char* outcome;  // TARVO_TAPINSTALL_OUTCOME, or none
};

void PrintTo(const InstallCase& c, std::ostream* out) { *out << c.name; }

class EnsureTapDriverInstalls : public ::testing::TestWithParam<InstallCase> {};

TEST_P(EnsureTapDriverInstalls, TheAdapterFoundAfterwardsIsResetAndReturned) {
    testing::StandinHost host;
    ScopedOutcome outcome(GetParam().outcome);
    const auto guid = ensure_tap_driver();
    ASSERT_TRUE(guid.has_value()) << guid.error();
    EXPECT_TRUE(is_braced_guid(*guid)) << *guid;
    EXPECT_EQ(find_tap_adapter(), *guid);
    EXPECT_EQ(host.calls(), (std::vector<std::string>{installer_call(), dhcp_call(*guid), kDisableCall}));
}

INSTANTIATE_TEST_SUITE_P(Outcomes, EnsureTapDriverInstalls,
                         ::testing::Values(InstallCase{"Succeeds", nullptr},
                                           InstallCase{"ExitsNonZeroWithAnAdapter", "exit-1-with-adapter"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EnsureTapDriver, AnInstallerThatAddsNoAdapterFailsWithItsStandardOutputOnly) {
    testing::StandinHost host;
    ScopedOutcome outcome("exit-0-without-adapter");
    const auto guid = ensure_tap_driver();
    ASSERT_FALSE(guid.has_value());
    const auto inf = platform::path_text(platform::host_path("C:\\ProgramData\\TARVO\\driver\\OemVista.inf"));
    EXPECT_EQ(
        guid.error(),
        "Instalacja sterownika TAP-Windows nie powiodła się: Device node created. Install is complete when "
        "drivers are installed...\nUpdating drivers for tap0901 from " +
            inf + ".\nDrivers installed successfully.\n");
    EXPECT_EQ(host.calls(), (std::vector<std::string>{installer_call()}));
}

TEST(EnsureTapDriver, AnInstallerThatCannotBeWrittenIsNotRunAndFailsWithTheSystemsError) {
    testing::StandinHost host;
    // A folder with something in it in the installer's place: the file can be
    // neither written nor run.
    testing::write_bytes(platform::host_path("C:\\ProgramData\\TARVO\\driver\\tapinstall.exe\\x"), "x");
    const auto guid = ensure_tap_driver();
    ASSERT_FALSE(guid.has_value());
    EXPECT_TRUE(guid.error().starts_with("Nie udało się uruchomić tapinstall.exe: ")) << guid.error();
    EXPECT_TRUE(guid.error().ends_with(" (os error 21)")) << guid.error();
    EXPECT_TRUE(host.calls().empty());
}

class EnsureTapDriverRunsOnlyTheEmbeddedPackage : public ::testing::TestWithParam<const char*> {};

// The installer runs elevated and reads the package: a file that differs
// from the embedded copy and could not be replaced keeps it from starting.
TEST_P(EnsureTapDriverRunsOnlyTheEmbeddedPackage, AFileOfTheRightSizeButOtherContent) {
    testing::StandinHost host;
    ASSERT_TRUE(extract_embedded_files().has_value());
    const auto file = driver_folder() / GetParam();
    testing::write_bytes(file, std::string(testing::read_bytes(file).size(), '#'));
    testing::ImmutableFile in_use(file);
    if (!in_use.ok()) GTEST_SKIP() << "cannot make a file immutable here (needs root on ext2/3/4)";
    const auto guid = ensure_tap_driver();
    ASSERT_FALSE(guid.has_value());
    EXPECT_EQ(guid.error(), "Nie udało się uruchomić tapinstall.exe: Exec format error (os error 8)");
    EXPECT_TRUE(host.calls().empty());
}

INSTANTIATE_TEST_SUITE_P(DriverFiles, EnsureTapDriverRunsOnlyTheEmbeddedPackage,
                         ::testing::Values("tapinstall.exe", "OemVista.inf", "tap0901.cat", "tap0901.sys"),
                         [](const auto& info) {
                             std::string name = info.param;
                             std::erase(name, '.');
                             return name;
                         });

TEST(TapResetGate, ABridgeStartWaitsForAResetStillRunning) {
    TapResetGate gate;
    std::mutex order_mutex;
    std::vector<std::string> order;
    auto note = [&](const char* what) {
        std::lock_guard lock(order_mutex);
        order.push_back(what);
    };
    std::latch release(1);
    start_tap_reset_thread(gate, [&] {
        release.wait();
        note("reset ended");
    });
    std::thread bridge_start([&] {
        gate.wait_until_no_reset_runs();
        note("bridge started");
    });
    // Give a start that would not wait every chance to run first.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    release.count_down();
    bridge_start.join();
    EXPECT_EQ(order, (std::vector<std::string>{"reset ended", "bridge started"}));
}

TEST(TapResetGate, WithNoResetRunningAStartGoesAhead) {
    TapResetGate gate;
    std::atomic<int> resets = 0;
    start_tap_reset_thread(gate, [&] { ++resets; });
    gate.wait_until_no_reset_runs();
    EXPECT_EQ(resets, 1);
    gate.wait_until_no_reset_runs();
}

}  // namespace
}  // namespace tarvo
