// IPv4 texts as the client's command lines carry them.
#pragma once

#include <string>

namespace tarvo::standins {

// Four decimal octets 0-255 without leading zeros, nothing else.
inline bool is_dotted_quad(const std::string& text) {
    int parts = 0;
    std::size_t at = 0;
    while (parts < 4) {
        std::size_t digits = 0;
        unsigned value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4) {
            value = value * 10 + static_cast<unsigned>(text[at++] - '0');
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text[at - digits] == '0'))
            return false;
        ++parts;
        if (parts < 4) {
            if (at >= text.size() || text[at] != '.') return false;
            ++at;
        }
    }
    return at == text.size();
}

}  // namespace tarvo::standins
