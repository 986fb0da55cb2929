// Speed of reading a sync answer, and the heap the reader needs as the body
// grows. Memory is counted by replacing the global allocation functions.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "orchestrator/bootstrap_reader.h"

namespace {

std::atomic<std::size_t> heap_in_use{0};
std::atomic<std::size_t> heap_peak{0};

constexpr std::size_t header = alignof(std::max_align_t);

void* counted_allocate(std::size_t size) {
    void* block = std::malloc(size + header);
    if (!block) throw std::bad_alloc();
    std::memcpy(block, &size, sizeof size);
    const std::size_t now = heap_in_use.fetch_add(size) + size;
    std::size_t peak = heap_peak.load();
    while (now > peak && !heap_peak.compare_exchange_weak(peak, now)) {
    }
    return static_cast<char*>(block) + header;
}

void counted_release(void* p) {
    if (!p) return;
    void* block = static_cast<char*>(p) - header;
    std::size_t size = 0;
    std::memcpy(&size, block, sizeof size);
    heap_in_use.fetch_sub(size);
    std::free(block);
}

}  // namespace

void* operator new(std::size_t size) { return counted_allocate(size); }
void* operator new[](std::size_t size) { return counted_allocate(size); }
void operator delete(void* p) noexcept { counted_release(p); }
void operator delete[](void* p) noexcept { counted_release(p); }
void operator delete(void* p, std::size_t) noexcept { counted_release(p); }
void operator delete[](void* p, std::size_t) noexcept { counted_release(p); }

namespace {

std::string link_json(int id) {
    const std::string n = std::to_string(id);
    return "{\"id\":" + n + ",\"source_id\":7,\"target_id\":" + n + ",\"mode\":\"" + (id % 3 ? "L3" : "L2") +
           "\",\"src_subnet\":\"10.1." + std::to_string(id % 250) + ".0/24\",\"dst_subnet\":\"10.2." +
           std::to_string(id % 250) + ".0/24\",\"tunnel_id\":" + n +
           ",\"hub_ip\":\"10.8.0.1\",\"tap_ip\":null,\"created_at\":\"2025-03-01T08:15:00Z\","
           "\"metrics\":{\"rtt_ms\":12.5,\"loss\":0.0,\"samples\":[1,2,3,4,5,6,7,8]}}";
}

// Dropped by the reader: a member no record has.
const std::string dropped_chunk =
    "{\"ts\":\"2025-03-01T08:15:00Z\",\"node\":17,\"rx\":123456789,\"tx\":987654321,"
    "\"ok\":true,\"note\":\"w\\u0119ze\\u0142 \\\"A\\\" OK\",\"tags\":[\"l2\",\"l3\",null],"
    "\"nested\":{\"a\":[{\"b\":[1.5e3,-2,0]}]}}";

const std::string answer_head =
    "{\"status\":\"ok\",\"node_id\":7,\"name\":\"Laptop serwisowy\",\"node_type\":\"desktop\","
    "\"project_id\":3,\"wg_ip\":\"10.8.0.7\",\"local_subnet\":\"192.168.7.0/24\",\"tunnel_id\":70,"
    "\"private_key\":\"cHJpdmF0ZSBrZXkgZm9yIGJlbmNo\",\"hub\":{\"endpoint\":\"hub.example:51820\","
    "\"server_public_key\":\"c2VydmVyIGtleQ==\",\"hub_wg_ip\":\"10.8.0.1\"},"
    "\"project_enabled\":true,\"owner_active\":true,\"allow_l3\":true,\"allow_l2\":true,";

// About one megabyte: many links, each with members the reader drops, and a
// large dropped member beside them.
std::string one_megabyte_answer() {
    std::string body = answer_head + "\"links\":[";
    for (int id = 1; body.size() < 600'000; ++id) {
        if (id > 1) body += ',';
        body += link_json(id);
    }
    body += "],\n  \"history\":[";
    for (bool first = true; body.size() < 1'000'000; first = false) {
        if (!first) body += ",\n    ";
        body += dropped_chunk;
    }
    body += "],\"online\":true}";
    return body;
}

// A body of about `size` bytes made as it is read, never held whole: a few
// links, then one dropped member that takes up the rest.
class GeneratedAnswer final : public tarvo::ByteSource {
public:
    explicit GeneratedAnswer(std::size_t size) : remaining_chunks_(size / dropped_chunk.size()) {
        piece_.reserve(96 * 1024);  // before the count starts: the source's memory, not the reader's
        piece_ += answer_head;
        piece_ += "\"links\":[" + link_json(1) + "," + link_json(2) + "],\"history\":[";
    }

    tarvo::Expected<std::string_view, tarvo::StreamError> read() override {
        if (done_) return std::string_view();
        if (!first_) piece_.clear();
        first_ = false;
        while (piece_.size() < 64 * 1024 && remaining_chunks_ > 0) {
            piece_ += dropped_chunk;
            if (--remaining_chunks_ > 0) piece_ += ',';
        }
        if (remaining_chunks_ == 0) {
            piece_ += "],\"online\":true}\n";
            done_ = true;
        }
        produced_ += piece_.size();
        return std::string_view(piece_);
    }

    std::size_t produced() const { return produced_; }

private:
    std::string piece_;
    std::size_t remaining_chunks_;
    std::size_t produced_ = 0;
    bool first_ = true;
    bool done_ = false;
};

void BM_ReadOneMegabyteAnswer(benchmark::State& state) {
    const std::string body = one_megabyte_answer();
    std::size_t links = 0;
    for (auto _ : state) {
        tarvo::MemoryByteSource source(body);
        auto result = tarvo::read_bootstrap_result(source);
        if (!result) {
            state.SkipWithError(result.error().text.c_str());
            return;
        }
        links = result->links.size();
        benchmark::DoNotOptimize(result);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
    state.counters["body_bytes"] = static_cast<double>(body.size());
    state.counters["links"] = static_cast<double>(links);
}
BENCHMARK(BM_ReadOneMegabyteAnswer)->Unit(benchmark::kMillisecond);

// Peak heap above what was in use before the read, for a body made on the fly.
void BM_PeakHeapWhileReading(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0)) * 1024 * 1024;
    std::size_t peak = 0;
    std::size_t produced = 0;
    for (auto _ : state) {
        GeneratedAnswer source(size);
        const std::size_t before = heap_in_use.load();
        heap_peak.store(before);
        auto result = tarvo::read_bootstrap_result(source);
        if (!result) {
            state.SkipWithError(result.error().text.c_str());
            return;
        }
        peak = heap_peak.load() - before;
        produced = source.produced();
        benchmark::DoNotOptimize(result);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * produced));
    state.counters["body_bytes"] = static_cast<double>(produced);
    state.counters["peak_heap_bytes"] = static_cast<double>(peak);
}
BENCHMARK(BM_PeakHeapWhileReading)->Arg(1)->Arg(50)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
