// Runs the WireGuard-NT engine in its own process, so a test can start it
// inside a network namespace (ip netns exec) with TARVO_NETNS set.
//   wg_engine_child <private key> <hub key> <hub endpoint> <wg_ip> [allowed IP...]
// Prints "started <us>" (or "failed <text>" and ends), then "handshake <us>"
// (or "no-handshake") measured from the start call. Then answers stdin lines:
// "traffic" -> "traffic <transmitted> <received>"; "close" -> closes the engine,
// waits until the link is gone and prints "closed <us>" measured from the close call.
#include <net/if.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "support/waiting.h"
#include "wg_engine/wg_config_block.h"
#include "wg_engine/wg_config_layout.h"
#include "wg_engine/wg_engine.h"

namespace {

using Clock = std::chrono::steady_clock;

long long micros_since(Clock::time_point from) {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - from).count();
}

std::vector<std::uint8_t> configuration(const tarvo::WgEngine& engine) {
    std::uint32_t size = 0;
    engine.get_configuration(engine.adapter, nullptr, &size);
    std::vector<std::uint8_t> block(size);
    if (size == 0 || !engine.get_configuration(engine.adapter, block.data(), &size)) return {};
    block.resize(size);
    return block;
}

bool handshake_done(const tarvo::WgEngine& engine) {
    const auto block = configuration(engine);
    return block.size() >= tarvo::wg_layout::kHeaderSize &&
           tarvo::wg_layout::get_le(block, tarvo::wg_layout::kLastHandshake) != 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr,
                     "usage: wg_engine_child <private key> <hub key> <endpoint> <wg_ip> [allowed...]\n");
        return 2;
    }
    tarvo::WgStartInputs in;
    in.private_key = argv[1];
    in.hub_public_key = argv[2];
    in.hub_endpoint = argv[3];
    in.wg_ip = argv[4];
    in.allowed_ips.assign(argv + 5, argv + argc);

    tarvo::WgEngine engine;
    const auto start = Clock::now();
    const auto started = tarvo::start_wg_engine(engine, in);
    if (!started) {
        std::cout << "failed " << started.error() << std::endl;
        return 1;
    }
    std::cout << "started " << micros_since(start) << std::endl;

    const auto give_up = start + tarvo::testing::kPatience;
    while (!handshake_done(engine) && Clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    if (handshake_done(engine)) std::cout << "handshake " << micros_since(start) << std::endl;
    else std::cout << "no-handshake" << std::endl;

    std::string command;
    while (std::getline(std::cin, command)) {
        if (command == "traffic") {
            const auto traffic = tarvo::read_first_peer_traffic(configuration(engine));
            std::cout << "traffic " << (traffic ? traffic->transmitted : 0) << ' '
                      << (traffic ? traffic->received : 0) << std::endl;
        } else if (command == "close") {
            const auto close = Clock::now();
            tarvo::close_wg_engine(engine);
            while (::if_nametoindex(engine.adapter_name.c_str()) != 0 &&
                   Clock::now() < close + tarvo::testing::kPatience)
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            std::cout << "closed " << micros_since(close) << std::endl;
            return 0;
        }
    }
    tarvo::close_wg_engine(engine);
    return 0;
}
