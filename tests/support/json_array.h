// The one output form of the test helper programs: their texts as one JSON
// array on one line (no line break, so no text-mode translation touches it).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::testing {

inline std::string json_array(const std::vector<std::string>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i) out += ',';
        out += '"';
        for (const char c : items[i]) {
            if (c == '"' || c == '\\') {
                out += '\\';
                out += c;
            } else if (static_cast<unsigned char>(c) < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(c));
                out += escape;
            } else {
                out += c;  // UTF-8 stays as it is
            }
        }
        out += '"';
    }
    return out + "]";
}

}  // namespace tarvo::testing
