// Runs the test orchestrator as a process for the simulated network:
//   tarvo_sim_orchestrator [--host NAME] [--port N] [--sync CODE=FILE]...
// Each --sync answers that code with the file's bytes (status 200); other
// codes get 403. Prints the base URL and the CA file, then serves until
// SIGINT or SIGTERM.
#include <signal.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "test_orchestrator.h"

int main(int argc, char** argv) {
    tarvo::sim::Scenario scenario;
    scenario.status = {200, R"({"status":"ok"})"};
    std::string host = tarvo::sim::TestOrchestrator::default_host;
    int port = 0;
    if (argc % 2 == 0) {
        std::cerr << "every option takes one value\n";
        return 2;
    }
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const std::string value = argv[i + 1];
        if (option == "--host") {
            host = value;
        } else if (option == "--port") {
            port = std::stoi(value);
        } else if (option == "--sync" && value.find('=') != std::string::npos) {
            std::ifstream file(value.substr(value.find('=') + 1), std::ios::binary);
            std::ostringstream bytes;
            bytes << file.rdbuf();
            scenario.sync[value.substr(0, value.find('='))] = {200, bytes.str()};
        } else {
            std::cerr << "unknown option " << option << "\n";
            return 2;
        }
    }

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // before any server thread starts

    auto orchestrator = tarvo::sim::TestOrchestrator::start(std::move(scenario), host, port);
    if (!orchestrator) {
        std::cerr << orchestrator.error() << "\n";
        return 1;
    }
    std::cout << "base_url=" << (*orchestrator)->base_url() << "\n"
              << "ca_bundle=" << (*orchestrator)->ca_bundle_path() << std::endl;
    int received = 0;
    sigwait(&signals, &received);
    return 0;
}
