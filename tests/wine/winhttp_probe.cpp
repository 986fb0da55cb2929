// Sends one GET through the Windows HTTP seam and prints what came back, for
// the Wine check that drives it against a local server:
//   winhttp_probe URL DEADLINE_MS
// Output: "head <status>" or "failure <kind> <text>", then on success
// "body <bytes>" with the body on the next line, or "body-failure <kind> <text>".
#include <chrono>
#include <cstdio>
#include <string>

#include "platform/http.h"

namespace {

const char* kind_name(tarvo::StreamErrorKind kind) {
    return kind == tarvo::StreamErrorKind::timed_out ? "timed_out" : "other";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: winhttp_probe URL DEADLINE_MS\n");
        return 2;
    }
    tarvo::platform::HttpGetRequest request;
    request.url = argv[1];
    request.deadline = std::chrono::milliseconds(std::stoi(argv[2]));
    auto response = tarvo::platform::http_get(request);
    if (!response) {
        std::printf("failure %s %s\n", kind_name(response.error().kind), response.error().message.c_str());
        return 0;
    }
    std::printf("head %d\n", response->status);
    std::string body;
    for (;;) {
        auto piece = response->body->read();
        if (!piece) {
            std::printf("body-failure %s %s\n", kind_name(piece.error().kind), piece.error().message.c_str());
            return 0;
        }
        if (piece->empty()) break;
        body.append(*piece);
    }
    std::printf("body %zu\n%s\n", body.size(), body.c_str());
    return 0;
}
