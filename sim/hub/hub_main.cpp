// The simulated hub's EoIP endpoint as a program, run inside the hub's
// network namespace:
//   tarvo_sim_hub --tap NAME --tunnel-id N --peer A.B.C.D [--local A.B.C.D] --stats FILE
// It attaches to the TAP NAME (IFF_TAP | IFF_NO_PI; created when missing,
// gone again at exit unless made persistent beforehand), bridges it to GRE
// for tunnel N with the peer, and writes its counters to FILE once it is
// ready, at every SIGUSR1 and at exit (SIGTERM or SIGINT).
//
// Like the client's stand-ins it acts only inside the namespace TARVO_NETNS
// names. Two endpoints that both answer empty datagrams would bounce one such
// datagram between them for ever; the hub never sends one of its own.
#include <arpa/inet.h>
#include <signal.h>

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>

#include "hub_endpoint.h"
#include "netns_guard.h"

namespace {

bool parse_address(const std::string& text, std::uint8_t (&out)[4]) {
    return inet_pton(AF_INET, text.c_str(), out) == 1;
}

bool parse_options(int argc, char** argv, tarvo::sim::hub::HubConfig& config) {
    bool have_peer = false;
    bool have_tunnel = false;
    if (argc % 2 == 0) return false;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string_view option = argv[i];
        const std::string value = argv[i + 1];
        if (option == "--tap") {
            config.tap_name = value;
        } else if (option == "--tunnel-id") {
            unsigned id = 0;
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), id);
            if (error != std::errc() || end != value.data() + value.size() || id > 0xFFFF) return false;
            config.tunnel_id = static_cast<std::uint16_t>(id);
            have_tunnel = true;
        } else if (option == "--peer") {
            if (!parse_address(value, config.peer)) return false;
            have_peer = true;
        } else if (option == "--local") {
            if (!parse_address(value, config.local)) return false;
            config.bind_local = true;
        } else if (option == "--stats") {
            // Written by rename: only a regular file, or a path not yet taken.
            std::error_code error;
            const auto target = std::filesystem::symlink_status(value, error);
            if (std::filesystem::exists(target) && !std::filesystem::is_regular_file(target)) return false;
            config.stats_path = value;
        } else {
            return false;
        }
    }
    return have_peer && have_tunnel && !config.tap_name.empty() && !config.stats_path.empty();
}

}  // namespace

int main(int argc, char** argv) {
    tarvo::sim::hub::HubConfig config;
    if (!parse_options(argc, argv, config)) {
        std::fprintf(
            stderr,
            "usage: tarvo_sim_hub --tap NAME --tunnel-id N --peer A.B.C.D [--local A.B.C.D] --stats FILE\n"
            "(FILE: a regular file or a new path; it is replaced on every report)\n");
        return 2;
    }
    if (!tarvo::standins::may_change_network()) {
        std::fprintf(stderr, "%s\n", tarvo::standins::network_left_alone_note("tarvo_sim_hub").c_str());
        return 3;
    }

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // before the threads start

    tarvo::sim::hub::HubEndpoint endpoint;
    if (!endpoint.open(config)) return 1;
    std::atomic<bool> stop{false};
    std::thread to_peer([&] { endpoint.run_tap_to_gre(stop); });
    std::thread from_peer([&] { endpoint.run_gre_to_tap(stop); });
    endpoint.write_stats();  // the file's existence says the hub is ready

    int received = 0;
    while (sigwait(&signals, &received) == 0 && received == SIGUSR1) endpoint.write_stats();
    stop.store(true);
    to_peer.join();
    from_peer.join();
    endpoint.write_stats();
    return 0;
}
