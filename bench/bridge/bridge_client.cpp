// Runs the client's bridge in a namespace made by bench/bridge/run until
// SIGTERM or SIGINT, then prints the CPU time the process spent and the
// bridge's byte counters.
//   tarvo_bridge_bench_client NETNS TAP_INTERFACE LOCAL_ADDRESS HUB_ADDRESS TUNNEL_ID
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/posix/adapter_registry.h"
#include "platform/posix/registry_files.h"
#include "platform/registry.h"
#include "support/namespace_bridge_start.h"

namespace {

constexpr const char* kGuid = "{0B1C2D3E-4F50-4617-8293-A4B5C6D7E8F9}";

double cpu_seconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s NETNS TAP_INTERFACE LOCAL_ADDRESS HUB_ADDRESS TUNNEL_ID\n", argv[0]);
        return 2;
    }
    // The stand-in registry names the TAP interface for the adapter's GUID.
    char root_template[] = "/tmp/tarvo-bridge-bench-XXXXXX";
    if (!::mkdtemp(root_template)) return 1;
    ::setenv("TARVO_HOST_ROOT", root_template, 1);
    const std::string key = std::string(tarvo::platform::kNetworkAdapterClassKey) + "\\0000";
    if (!tarvo::platform::write_registry_value(key, "NetCfgInstanceId", kGuid) ||
        !tarvo::platform::write_registry_value(key, tarvo::platform::kLinuxInterfaceValue, argv[2])) {
        return 1;
    }

    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);  // the bridge threads inherit the mask

    tarvo::L2Bridge bridge;
    tarvo::testing::NamespaceBridgeStart system(argv[1], kGuid);
    const auto started = tarvo::launch_l2_bridge(
        bridge, {static_cast<std::uint16_t>(std::stoul(argv[5])), argv[4], "", argv[3]}, system);
    if (!started) {
        std::fprintf(stderr, "%s\n", started.error().c_str());
        return 1;
    }
    std::printf("started\n");
    std::fflush(stdout);
    const double cpu_at_start = cpu_seconds();
    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    tarvo::stop_l2_bridge(bridge, false);
    std::printf("cpu_seconds %.3f tx_bytes %llu rx_bytes %llu\n", cpu_seconds() - cpu_at_start,
                static_cast<unsigned long long>(bridge.tx_bytes->load()),
                static_cast<unsigned long long>(bridge.rx_bytes->load()));
    std::filesystem::remove_all(root_template);
    return 0;
}
