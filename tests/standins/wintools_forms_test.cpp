// Every command line the client sends reaches a handler of the wintools
// stand-in (or is one it only records), and any other line fails loudly, so a
// client mistake cannot pass silently. The probe's ping and the gateway script
// act only inside a namespace of the project.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "main/bring_up.h"
#include "main/self_install.h"
#include "ping_command.h"
#include "platform/process.h"
#include "support/host_root.h"
#include "wg_engine/wg_engine.h"

namespace tarvo::standins {
namespace {

struct Line {
    std::string tool;
    std::vector<std::string> args;
    int exit_code = 0;  // outside a namespace, in an empty host root
};

std::string shown(const Line& line) {
    std::string text = line.tool;
    for (const auto& a : line.args) text += " [" + a + "]";
    return text;
}

Line powershell(std::string script) { return {"powershell", {"-NoProfile", "-Command", std::move(script)}}; }

const std::string kTapGuid = "{8B5B1D0A-3C4E-4F6A-9B2D-1E0F2A3B4C5D}";
const std::string kTapFilter =
    "Get-NetAdapter -IncludeHidden | Where-Object { $_.InterfaceDescription -like '*TAP-Windows*' -or "
    "$_.Name -eq "
    "'SD-WAN-L2' } | ";
const std::string kFirstTap =
    "Get-NetAdapter -IncludeHidden | Where-Object { $_.InterfaceGuid -eq '" + kTapGuid +
    "' -or $_.InterfaceDescription -like '*TAP-Windows*' } | Select-Object -First 1";

// Every form the client sends; the TAP adapter's and the bridge start's
// forms are written out until their code lands beside this one.
std::vector<Line> client_lines() {
    const InstallLocations where{std::filesystem::path("/host/C/ProgramData/TARVO")};
    return {
        {"netsh", host_address_arguments("tarvo-client", "10.200.0.7/32")},
        powershell(mtu_and_routes_script("tarvo-client", {"10.200.0.0/24"})),
        {"sc", {"query", std::string(kLeftoverServiceName)}, 1},  // no such service
        powershell(std::string(kGatewayScript)),
        {"ping", {"-n", "2", "-w", "900", "10.200.0.1"}, 1},  // no echo sent
        powershell(shortcut_script_for("/host/C/Users/Jan's/TarvoClient.exe", where)),
        {"netsh", {"interface", "ipv4", "set", "address", "name=" + kTapGuid, "source=dhcp"}},
        {"netsh",
         {"interface", "ipv4", "set", "address", "name=" + kTapGuid, "static", "10.9.9.2", "255.255.255.0"}},
        powershell(kTapFilter + "Disable-NetAdapter -Confirm:$false -ErrorAction SilentlyContinue"),
        powershell(kTapFilter + "Enable-NetAdapter -Confirm:$false -ErrorAction SilentlyContinue"),
        powershell("$a = " + kFirstTap +
                   "; if ($a) { netsh interface ipv4 set address name=\"$($a.Name)\" static 10.9.9.2 "
                   "255.255.255.0 }"),
        powershell("(" + kFirstTap + ").MacAddress"),
        powershell(
            "if (-not (Get-NetFirewallRule -DisplayName 'TARVO-GRE-EoIP-Allow' -ErrorAction "
            "SilentlyContinue)) { New-NetFirewallRule -DisplayName 'TARVO-GRE-EoIP-Allow' -Protocol 47 "
            "-Direction Inbound -Action Allow -ErrorAction SilentlyContinue | Out-Null }"),
    };
}

class WintoolsForms : public ::testing::Test {
protected:
    void SetUp() override { ::unsetenv("TARVO_NETNS"); }

    platform::ProcessOutput run(const Line& line) {
        const auto link = root.path() / line.tool;
        std::error_code ec;
        std::filesystem::create_symlink(TARVO_WINTOOLS_STANDIN, link, ec);
        const auto out = platform::run_process_hidden(link.string(), line.args);
        EXPECT_TRUE(out) << shown(line);
        return out ? *out : platform::ProcessOutput{-1, {}, {}};
    }

    testing::ScopedHostRoot root;
};

TEST_F(WintoolsForms, EveryFormTheClientSendsIsAnswered) {
    for (const Line& line : client_lines()) {
        const auto out = run(line);
        EXPECT_EQ(out.stderr_bytes.find("unknown command line"), std::string::npos) << shown(line);
        EXPECT_EQ(out.exit_code, line.exit_code) << shown(line) << "\n" << out.stderr_bytes;
    }
}

TEST_F(WintoolsForms, AnyOtherLineFailsLoudly) {
    const std::string gateway(kGatewayScript);
    const std::vector<Line> lines = {
        powershell("Remove-Item -Recurse C:\\"),
        powershell(gateway + "; Stop-Computer"),
        powershell(gateway.substr(0, gateway.size() - 1)),
        {"powershell", {"-Command", gateway}},
        {"netsh", {"interface", "ipv4", "add", "route", "0.0.0.0/0", "tarvo-client"}},
        {"netsh", {"interface", "ipv4", "set", "address", "name=" + kTapGuid, "static", "10.9.9.2"}},
        {"ping", {"10.200.0.1"}},
        {"ping", {"-n", "2", "-w", "900", "10.200.0.1", "-t"}},
        {"ping", {"-n", "0", "-w", "900", "10.200.0.1"}},
        {"ping", {"-n", "02", "-w", "900", "10.200.0.1"}},
        {"ping", {"-n", "2", "-w", "-9", "10.200.0.1"}},
        {"tracert", {"10.200.0.1"}},
    };
    for (const Line& line : lines) {
        const auto out = run(line);
        EXPECT_NE(out.exit_code, 0) << shown(line);
        EXPECT_NE(out.stderr_bytes.find(line.tool + " stand-in: unknown command line"), std::string::npos)
            << shown(line) << "\n"
            << out.stderr_bytes;
    }
    // Recorded all the same, so a test can see what the client tried.
    std::ifstream log(root.path() / "tarvo-standin.log");
    std::size_t recorded = 0;
    for (std::string entry; std::getline(log, entry);) ++recorded;
    EXPECT_EQ(recorded, lines.size());
}

TEST(WintoolsPing, TheWindowsCountAndWaitBecomeTheLinuxOnes) {
    EXPECT_EQ(linux_ping_arguments({"-n", "2", "-w", "900", "10.200.0.1"}),
              (std::vector<std::string>{"ping", "-c", "2", "-W", "0.900", "--", "10.200.0.1"}));
    EXPECT_EQ(linux_ping_arguments({"-n", "1", "-w", "2500", "-x"}),
              (std::vector<std::string>{"ping", "-c", "1", "-W", "2.500", "--", "-x"}));
    EXPECT_FALSE(linux_ping_arguments({"-w", "900", "-n", "2", "10.200.0.1"}));
    EXPECT_FALSE(linux_ping_arguments({"-n", "2", "-w", "9e2", "10.200.0.1"}));
}

TEST_F(WintoolsForms, APingOutsideANamespaceSendsNothingAndANameIsNotLookedUp) {
    const auto outside = run({"ping", {"-n", "1", "-w", "100", "127.0.0.1"}});
    EXPECT_NE(outside.exit_code, 0);
    EXPECT_EQ(outside.stdout_bytes.find("ttl="), std::string::npos);
    EXPECT_NE(outside.stderr_bytes.find("nothing sent"), std::string::npos);

    // An orchestrator's hub address is used as received: a name, or a text
    // that looks like an option, is no address.
    for (const std::string target : {"hub.example", "-f", "10.200.0.1; reboot"}) {
        const auto out = run({"ping", {"-n", "2", "-w", "900", target}});
        EXPECT_EQ(out.exit_code, 1) << target;
        EXPECT_NE(out.stdout_bytes.find("could not find host " + target), std::string::npos) << target;
    }
}

// A namespace of the project with its loopback up, removed again.
class ProjectNamespace {
public:
    ProjectNamespace() : name_("tarvo-pw-" + std::to_string(::getpid())) {
        (void)std::system(("ip netns delete " + name_ + " 2>/dev/null").c_str());
        created_ = std::system(("ip netns add " + name_ + " 2>/dev/null").c_str()) == 0 &&
                   std::system(("ip -n " + name_ + " link set lo up").c_str()) == 0;
    }
    ~ProjectNamespace() { (void)std::system(("ip netns delete " + name_ + " 2>/dev/null").c_str()); }
    bool created() const { return created_; }
    const std::string& name() const { return name_; }

private:
    std::string name_;
    bool created_ = false;
};

TEST_F(WintoolsForms, InsideANamespaceThePingAnswersAndTheGatewayForwards) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to create a network namespace";
    ProjectNamespace ns;
    if (!ns.created()) GTEST_SKIP() << "ip netns add failed: no network namespaces here";
    const auto inside = [&](const Line& line) {
        const auto link = root.path() / line.tool;
        std::error_code ec;
        std::filesystem::create_symlink(TARVO_WINTOOLS_STANDIN, link, ec);
        std::vector<std::string> args{"netns",
                                      "exec",
                                      ns.name(),
                                      "env",
                                      "TARVO_NETNS=" + ns.name(),
                                      "TARVO_HOST_ROOT=" + root.path().string(),
                                      link.string()};
        args.insert(args.end(), line.args.begin(), line.args.end());
        const auto out = platform::run_process_hidden("/usr/sbin/ip", args);
        EXPECT_TRUE(out);
        return out ? *out : platform::ProcessOutput{-1, {}, {}};
    };
    const auto forwarding = [&] {
        const auto out = platform::run_process_hidden(
            "/usr/sbin/ip", {"netns", "exec", ns.name(), "cat", "/proc/sys/net/ipv4/ip_forward"});
        return out ? out->stdout_bytes : std::string();
    };

    const auto ping = inside({"ping", {"-n", "2", "-w", "900", "127.0.0.1"}});
    EXPECT_EQ(ping.exit_code, 0) << ping.stderr_bytes;
    EXPECT_NE(ping.stdout_bytes.find("2 packets transmitted, 2 received"), std::string::npos)
        << ping.stdout_bytes;
    EXPECT_NE(ping.stdout_bytes.find("ttl="), std::string::npos);

    EXPECT_EQ(forwarding(), "0\n");
    const auto gateway = inside(powershell(std::string(kGatewayScript)));
    EXPECT_EQ(gateway.exit_code, 0) << gateway.stderr_bytes;
    EXPECT_EQ(forwarding(), "1\n");
}

}  // namespace
}  // namespace tarvo::standins
