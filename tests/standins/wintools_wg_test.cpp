// The wintools stand-in's answers to the tunnel's commands. Outside a
// namespace of the project it parses and records but changes nothing; the
// namespace test checks the effects.
#include "wg_commands.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "platform/process.h"
#include "support/host_root.h"
#include "wg_engine/wg_engine.h"

namespace tarvo::standins {
namespace {

TEST(WintoolsWgScript, TheClientsScriptGivesItsPrefixesInOrder) {
    const std::string script = mtu_and_routes_script("tarvo-client", {"10.200.0.0/24", "x", "10.1.2.3/0"});
    EXPECT_EQ(parse_mtu_and_routes_script(script, "tarvo-client"),
              (std::vector<std::string>{"10.200.0.0/24", "0.0.0.0/0"}));
}

TEST(WintoolsWgScript, AnythingElseIsNotTheClientsScript) {
    const std::string good = mtu_and_routes_script("tarvo-client", {"10.200.0.0/24"});
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string s = good;
        s.replace(s.find(from), from.size(), to);
        return s;
    };
    for (const std::string& script :
         {std::string(), good.substr(0, good.find("; Remove")), good + ";", good + "; ",
          good.substr(0, good.size() - 1), replaced("-RouteMetric 5", "-RouteMetric 6"),
          replaced("-NlMtuBytes 1420", "-NlMtuBytes 1500"),
          replaced("'10.200.0.0/24' -InterfaceAlias", "'10.200.0.1/24' -InterfaceAlias"),
          replaced("10.200.0.0/24", "10.200.0.0/33"), replaced("10.200.0.0/24", "hub/24")}) {
        EXPECT_FALSE(parse_mtu_and_routes_script(script, "tarvo-client")) << script;
    }
    EXPECT_FALSE(parse_mtu_and_routes_script(good, "other"));
}

class WintoolsWgCommands : public ::testing::Test {
protected:
    void SetUp() override { ::unsetenv("TARVO_NETNS"); }

    platform::ProcessOutput run(const std::string& tool, const std::vector<std::string>& args) {
        const auto link = root.path() / tool;
        std::filesystem::create_symlink(TARVO_WINTOOLS_STANDIN, link);
        const auto out = platform::run_process_hidden(link.string(), args);
        std::filesystem::remove(link);
        EXPECT_TRUE(out);
        return out ? *out : platform::ProcessOutput{-1, {}, {}};
    }
    void make_service(const std::string& name) {
        std::filesystem::create_directories(root.path() / "tarvo-standin" / "services");
        std::ofstream(root.path() / "tarvo-standin" / "services" / name) << "RUNNING\n";
    }

    testing::ScopedHostRoot root;
};

TEST_F(WintoolsWgCommands, TheClientsFormsSucceedWithoutTouchingTheNetworkOutsideANamespace) {
    const auto netsh = run("netsh", host_address_arguments("tarvo-client", "198.51.100.2/32"));
    EXPECT_EQ(netsh.exit_code, 0);
    EXPECT_NE(netsh.stderr_bytes.find("nothing changed"), std::string::npos);
    const auto script = run(
        "powershell", {"-NoProfile", "-Command", mtu_and_routes_script("tarvo-client", {"10.9.0.0/16"})});
    EXPECT_EQ(script.exit_code, 0);
    EXPECT_NE(script.stderr_bytes.find("nothing changed"), std::string::npos);
}

TEST_F(WintoolsWgCommands, AMalformedTunnelCommandFailsLoudly) {
    const std::vector<std::vector<std::string>> netsh_lines = {
        {"interface", "ipv4", "set", "address", "name=tarvo-client", "static", "198.51.100.2",
         "255.255.255.0"},
        {"interface", "ipv4", "set", "address", "name=tarvo-client", "static", "", "255.255.255.255"},
        {"interface", "ipv4", "set", "address", "name=tarvo-client", "static", "198.51.100.2"},
    };
    for (const auto& args : netsh_lines) {
        const auto out = run("netsh", args);
        EXPECT_NE(out.exit_code, 0) << args[6];
        EXPECT_NE(out.stderr_bytes.find("unknown command line"), std::string::npos);
    }
    const auto script = run(
        "powershell",
        {"-NoProfile", "-Command", "Set-NetIPInterface -InterfaceAlias 'tarvo-client' -NlMtuBytes 1420"});
    EXPECT_NE(script.exit_code, 0);
    EXPECT_NE(run("sc", {"query"}).exit_code, 0);
    EXPECT_NE(run("sc", {"start", "WireGuardTunnel$tarvo-client"}).exit_code, 0);
}

TEST_F(WintoolsWgCommands, ServicesExistOnlyWhenATestMadeThem) {
    const std::string name(kLeftoverServiceName);
    const auto absent = run("sc", {"query", name});
    EXPECT_NE(absent.exit_code, 0);
    EXPECT_EQ(absent.stdout_bytes.find("WireGuardTunnel"), std::string::npos);

    make_service(name);
    const auto present = run("sc", {"query", name});
    EXPECT_EQ(present.exit_code, 0);
    EXPECT_NE(present.stdout_bytes.find("SERVICE_NAME: " + name), std::string::npos);
    EXPECT_NE(present.stdout_bytes.find("RUNNING"), std::string::npos);
    EXPECT_EQ(run("sc", {"stop", name}).exit_code, 0);
    EXPECT_NE(run("sc", {"query", name}).stdout_bytes.find("STOPPED"), std::string::npos);
    EXPECT_EQ(run("sc", {"delete", name}).exit_code, 0);
    EXPECT_NE(run("sc", {"query", name}).exit_code, 0);
}

}  // namespace
}  // namespace tarvo::standins
