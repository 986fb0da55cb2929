// Client CPU time of one sync request, each with a fresh TLS handshake,
// answer read into its record, against the in-process test orchestrator. The client runs entirely on the
// benchmark thread (the host name is pre-resolved, so no resolver thread),
// so that thread's CPU time is the client's; the server's threads are not in it.
#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdlib>

#include "orchestrator/orchestrator_client.h"
#include "test_orchestrator.h"

namespace {

double thread_cpu_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::string sample_answer() {
    std::string links;
    for (int i = 1; i <= 8; ++i) {
        if (i > 1) links += ",";
        links += R"({"id":)" + std::to_string(i) +
                 R"(,"mode":"L3","src_subnet":"10.1.0.0/24","dst_subnet":"10.2.0.0/24","tap_ip":"10.9.0.)" +
                 std::to_string(i) + R"(/24","tunnel_id":)" + std::to_string(100 + i) + "}";
    }
    return R"({"node_id":42,"name":"laptop","project_enabled":true,"owner_active":true,"allow_l3":true,)"
           R"("hub":{"server_public_key":"q2Y8yZkS3a1w6f0c4b9n7m5l3k1j0h8g6f4d2s0a9p8=","endpoint":"203.0.113.5:51820"},)"
           R"("links":[)" +
           links + "]}";
}

void BM_SyncRequestFreshTls(benchmark::State& state) {
    tarvo::sim::Scenario scenario;
    scenario.sync["ABCD1234EFGH"] = {200, sample_answer()};
    auto orchestrator = tarvo::sim::TestOrchestrator::start(scenario);
    if (!orchestrator) {
        state.SkipWithError(orchestrator.error().c_str());
        return;
    }
    const tarvo::OrchestratorEndpoint endpoint = (*orchestrator)->endpoint();
    const tarvo::SyncReport report{true, false, true, false, 123456789, 987654321};

    double cpu = 0;
    for (auto _ : state) {
        const double before = thread_cpu_seconds();
        auto answer = tarvo::sync_with_orchestrator(endpoint, "ABCD1234EFGH", report);
        cpu += thread_cpu_seconds() - before;
        if (!answer) {
            state.SkipWithError(answer.error().c_str());
            return;
        }
        benchmark::DoNotOptimize(answer->node_id);
    }
    state.counters["client_cpu_ms_per_request"] = benchmark::Counter(cpu * 1e3 /
                                                                     static_cast<double>(state.iterations()));
}
BENCHMARK(BM_SyncRequestFreshTls)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace

BENCHMARK_MAIN();
