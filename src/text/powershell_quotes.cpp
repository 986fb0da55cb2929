#include "text/powershell_quotes.h"

namespace tarvo::text {

namespace {

// The length of the quote character that starts `rest` (1 or 3 bytes), or 0.
std::size_t quote_length(std::string_view rest) {
    if (rest.front() == '\'') return 1;
    // U+2018 to U+201B: E2 80 98 to E2 80 9B.
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(rest[i]); };
    if (rest.size() >= 3 && byte(0) == 0xE2 && byte(1) == 0x80 && byte(2) >= 0x98 && byte(2) <= 0x9B) return 3;
    return 0;
}

}  // namespace

std::string double_powershell_quotes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const std::size_t quote = quote_length(text);
        const std::size_t length = quote == 0 ? 1 : quote;
        out.append(text.substr(0, length));
        if (quote != 0) out.append(text.substr(0, length));
        text.remove_prefix(length);
    }
    return out;
}

}  // namespace tarvo::text
