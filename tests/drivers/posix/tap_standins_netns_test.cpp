// The TAP installer and Windows tool stand-ins acting on a real Linux TAP, in
// a network namespace made for the test.
#include <gtest/gtest.h>
#include <unistd.h>

#include "drivers/hidden_command.h"
#include "drivers/tap_driver.h"
#include "platform/posix/adapter_registry.h"
#include "support/scoped_namespace.h"
#include "support/standin_host.h"

namespace tarvo {
namespace {

const std::string kMacScriptHead = "(Get-NetAdapter -IncludeHidden | Where-Object { $_.InterfaceGuid -eq '";
const std::string kFirstTapTail =
    "' -or $_.InterfaceDescription -like '*TAP-Windows*' } | Select-Object -First 1";

std::string static_script(const std::string& guid, const std::string& address, const std::string& mask) {
    return "$a = Get-NetAdapter -IncludeHidden | Where-Object { $_.InterfaceGuid -eq '" + guid +
           kFirstTapTail + "; if ($a) { netsh interface ipv4 set address name=\"$($a.Name)\" static " +
           address + " " + mask + " }";
}

CommandOutput powershell(const std::string& script) {
    return run_hidden("powershell", {"-NoProfile", "-Command", script});
}

bool link_up(const testing::ScopedNamespace& ns, const std::string& interface) {
    const std::string line = ns.ip("-o link show dev " + interface);
    const auto flags = line.substr(line.find('<'), line.find('>') - line.find('<') + 1);
    return flags.find("<UP,") != std::string::npos || flags.find(",UP,") != std::string::npos ||
           flags.find(",UP>") != std::string::npos;
}

TEST(TapStandinsInNamespace, InstallAddressMacAndResetActOnTheAdaptersInterface) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to create a network namespace and a TAP";
    testing::ScopedNamespace ns("tarvo-tap-");
    if (!ns.created()) GTEST_SKIP() << "ip netns add failed: no network namespaces here";
    testing::StandinHost host;

    std::string guid, interface;
    ns.run_inside([&] {
        const auto installed = ensure_tap_driver();
        ASSERT_TRUE(installed.has_value()) << installed.error();
        guid = *installed;
        interface = platform::linux_interface_of(guid).value_or("");
        ASSERT_FALSE(interface.empty());
        EXPECT_NE(ns.ip("-d link show dev " + interface).find("tun type tap pi off"), std::string::npos);
        EXPECT_FALSE(link_up(ns, interface)) << "the installation's reset disables the adapter";

        EXPECT_EQ(powershell(tap_adapters_script("Enable-NetAdapter")).code, 0);
        EXPECT_TRUE(link_up(ns, interface));

        EXPECT_EQ(run_hidden("netsh", {"interface", "ipv4", "set", "address", "name=" + guid, "static",
                                       "10.77.0.10", "255.255.255.0"})
                      .code,
                  0);
        EXPECT_NE(ns.ip("-4 -o address show dev " + interface).find("inet 10.77.0.10/24"), std::string::npos);

        EXPECT_EQ(powershell(static_script(guid, "10.78.0.10", "255.255.0.0")).code, 0);
        const std::string replaced = ns.ip("-4 -o address show dev " + interface);
        EXPECT_NE(replaced.find("inet 10.78.0.10/16"), std::string::npos) << replaced;
        EXPECT_EQ(replaced.find("10.77.0.10"), std::string::npos) << replaced;

        const std::string link = ns.ip("-o link show dev " + interface);
        std::string mac = link.substr(link.find("link/ether ") + 11, 17);
        for (char& c : mac)
            c = c == ':' ? '-' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(powershell(kMacScriptHead + guid + kFirstTapTail + ").MacAddress").text, mac + "\r\n");

        reset_tap_adapter();
        EXPECT_EQ(ns.ip("-4 -o address show dev " + interface), "");
        EXPECT_FALSE(link_up(ns, interface));
    });
    EXPECT_FALSE(guid.empty());
    if (!interface.empty()) (void)ns.ip("link delete dev " + interface);
}

TEST(TapStandinsOutsideANamespace, RecordButLeaveTheNetworkAlone) {
    testing::StandinHost host;
    const auto installed = ensure_tap_driver();
    ASSERT_TRUE(installed.has_value()) << installed.error();
    const auto enabled = powershell(tap_adapters_script("Enable-NetAdapter"));
    EXPECT_EQ(enabled.code, 0);
    EXPECT_NE(enabled.text.find("nothing changed"), std::string::npos) << enabled.text;
    EXPECT_EQ(host.calls().size(), 4u);  // install, DHCP, disable, enable
}

TEST(TapStandinsOutsideANamespace, AnAdapterScriptTheyDoNotKnowFails) {
    testing::StandinHost host;
    for (const std::string& script : std::vector<std::string>{
             tap_adapters_script("Restart-NetAdapter"), "Get-NetAdapter | Disable-NetAdapter -Confirm:$false",
             static_script("{11111111-2222-3333-4444-555555555555}", "10.0.0.1", "255.0.0.0") +
                 " ; Remove-Item x"}) {
        const auto run = powershell(script);
        EXPECT_EQ(run.code, 1) << script;
        EXPECT_NE(run.text.find("does not know this adapter script"), std::string::npos) << run.text;
    }
}

}  // namespace
}  // namespace tarvo
