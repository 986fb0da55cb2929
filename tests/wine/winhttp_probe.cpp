// Sends one GET through the Windows HTTP seam and prints what came back, for
// the Wine checks that drive it against local servers:
//   winhttp_probe URL DEADLINE_MS [ROOT.der ...]
// With root certificates named, the seam trusts those in place of the
// compiled-in public roots. Output: "head <status>" or "failure <kind> <text>",
// then on success "body <bytes>" with the body on the next line when it is
// short, or "body-failure <kind> <text>"; last, one line per hop's check as
// it was made before the hop's request: "hop <scheme> <host> sent|stopped".
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/http.h"
#include "platform/win32/http_winhttp.h"
#include "platform/win32/root_chain_check.h"
#include "platform/win32/wide_text.h"

namespace {

const char* kind_name(tarvo::StreamErrorKind kind) {
    switch (kind) {
        case tarvo::StreamErrorKind::timed_out: return "timed_out";
        case tarvo::StreamErrorKind::too_large: return "too_large";
        case tarvo::StreamErrorKind::other: break;
    }
    return "other";
}

void print_outcome(tarvo::Expected<tarvo::platform::HttpResponse, tarvo::StreamError>& response) {
    if (!response) {
        std::printf("failure %s %s\n", kind_name(response.error().kind), response.error().message.c_str());
        return;
    }
    std::printf("head %d\n", response->status);
    std::string body;
    for (;;) {
        auto piece = response->body->read();
        if (!piece) {
            std::printf("body-failure %s %s\n", kind_name(piece.error().kind), piece.error().message.c_str());
            return;
        }
        if (piece->empty()) break;
        body.append(*piece);
    }
    std::printf("body %zu\n", body.size());
    if (body.size() <= 4096) std::printf("%s\n", body.c_str());
}

std::vector<unsigned char> read_file(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: winhttp_probe URL DEADLINE_MS [ROOT.der ...]\n");
        return 2;
    }
    tarvo::platform::HttpGetRequest request;
    request.url = argv[1];
    request.deadline = std::chrono::milliseconds(std::stoi(argv[2]));

    std::vector<std::vector<unsigned char>> roots;
    for (int i = 3; i < argc; ++i) roots.push_back(read_file(argv[i]));
    std::vector<std::span<const unsigned char>> root_views(roots.begin(), roots.end());
    const auto store = tarvo::platform::win32::make_root_store(root_views);
    std::mutex hops_lock;
    std::vector<tarvo::platform::win32::HopCheck> hops;
    auto record_hop = [&](const tarvo::platform::win32::HopCheck& check) {
        std::lock_guard lock(hops_lock);
        hops.push_back(check);
    };
    {
        const auto public_roots = tarvo::platform::win32::make_public_root_store();
        auto response = tarvo::platform::win32::http_get_trusting(
            request, roots.empty() ? public_roots.get() : store.get(), record_hop);
        print_outcome(response);
    }
    std::lock_guard lock(hops_lock);
    for (const auto& check : hops) {
        std::printf("hop %s %s %s\n", check.hop.secure ? "https" : "http",
                    tarvo::platform::win32::from_wide(check.hop.host).c_str(),
                    check.sent ? "sent" : "stopped");
    }
    return 0;
}
