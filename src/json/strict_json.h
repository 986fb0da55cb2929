// A small strict JSON reader for the settings file: RFC 8259 syntax, bounded
// nesting, nothing but whitespace after the value. It reads the few shapes the
// settings need and skips everything else, checking it all the same.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tarvo {

class StrictJsonReader {
public:
    static constexpr int kMaxDepth = 128;

    explicit StrictJsonReader(std::string_view text) : text_(text) {}

    void skip_whitespace();
    // The next significant character, or '\0' at the end (after whitespace).
    char peek();
    // Consumes `c` (after whitespace) when it is next.
    bool consume(char c);
    bool at_end();

    std::optional<std::string> read_string();
    std::optional<bool> read_bool();
    // Checks and skips one value of any kind; `depth` is the nesting so far.
    bool skip_value(int depth = 0);

private:
    bool read_literal(std::string_view word);
    bool skip_number();
    std::optional<unsigned> read_hex4();

    std::string_view text_;
    std::size_t pos_ = 0;
};

}  // namespace tarvo
