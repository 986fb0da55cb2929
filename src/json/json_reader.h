// A pull reader of JSON text over a ByteSource. It keeps one piece of the
// stream at a time and never the whole body: dropped values and whitespace
// are read through without being stored, and only a string that a caller
// asks for is buffered.
//
// Positions follow the bytes taken from the stream: a byte looked at to
// decide what comes next counts as taken, so a fault is reported at the byte
// that showed it (lines from 1, the column counts the bytes of the current
// line taken so far).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/byte_source.h"

namespace tarvo {

struct TextPosition {
    std::size_t line = 1;
    std::size_t column = 0;

    friend bool operator==(const TextPosition&, const TextPosition&) = default;
};

enum class JsonFailureKind {
    invalid_data,      // the text is not what the reader accepts
    stream_timed_out,  // the byte source failed with a time-out
    stream_other,      // the byte source failed otherwise
};

struct JsonFailure {
    JsonFailureKind kind = JsonFailureKind::invalid_data;
    std::string message;
    std::optional<TextPosition> position;  // none for a stream failure outside the value

    // The message followed by " at line L column C" when it has a position.
    std::string text() const;
};

// A number as read: a whole number that fits 64 bits, or a floating-point
// value (a fraction, an exponent, or a whole number beyond 64 bits).
struct JsonNumber {
    enum class Kind { non_negative, negative, floating };
    Kind kind = Kind::non_negative;
    std::uint64_t magnitude = 0;  // whole numbers: the absolute value
    double value = 0.0;           // floating: the value

    // "integer `N`" or "floating point `F`", as errors name an offending value.
    std::string describe() const;
};

class JsonReader {
public:
    // Results of peek(): a byte value 0..255, or one of these.
    static constexpr int end_of_input = -1;
    static constexpr int failed = -2;

    explicit JsonReader(ByteSource& source) : source_(source) {}
    JsonReader(const JsonReader&) = delete;
    JsonReader& operator=(const JsonReader&) = delete;

    // A stream failure carries a position only between these two marks.
    void begin_value() { inside_value_ = true; }
    void end_value() { inside_value_ = false; }

    // Skips whitespace (SP, TAB, LF, CR) and looks at the next byte.
    int peek();
    // Takes the byte that peek() returned.
    void take() {
        ++cursor_;
        looked_at_cursor_ = false;
    }

    // The rest of a literal whose first byte has been taken ("ull" of null).
    bool read_literal_rest(std::string_view rest);

    // A string whose opening quote has been taken, up to its closing quote.
    // With `out`, the decoded text replaces its contents; at most `limit`
    // bytes are kept and `*overflowed` tells whether more came.
    bool read_string(std::string* out, std::size_t limit = SIZE_MAX, bool* overflowed = nullptr);

    // A number starting at the peeked byte ('-' or a digit). With
    // `check_range` a floating-point value is worked out, and one too large
    // for a double is a failure; without it (a dropped value) only the
    // syntax is checked.
    bool read_number(JsonNumber& out, bool check_range);

    // Reads one value through and drops it, at any depth and without
    // recursion. Opening a container `container_limit` levels deep fails.
    bool skip_value(std::size_t container_limit = SIZE_MAX, bool check_number_range = false);

    // After a fault of the text: "invalid type: {desc}, expected {expected}",
    // with the offending value (starting at the peeked byte) read through.
    bool fail_invalid_type(std::string_view expected);
    // Fails with `message` at the current position (bytes taken so far).
    bool fail(std::string message);
    // For a peek() that found no byte: fails with `message` at the end of the
    // input, or keeps the stream's own failure.
    bool fail_at_end(const char* message);

    // A buffer for object keys, reused from member to member.
    std::string& key_buffer() { return key_; }

    // After the top-level value: only whitespace may follow.
    bool finish();

    const JsonFailure& failure() const { return failure_; }
    TextPosition position() const;

private:
    bool refill();
    int peek_raw();
    // null, true or false, from its peeked first byte.
    bool read_literal(int first);
    bool read_escape(std::string* out, std::size_t limit, bool* overflowed);
    bool read_hex4(std::uint32_t& code);
    bool read_member_key();
    std::size_t offset_of(const char* p) const {
        return piece_offset_ + static_cast<std::size_t>(p - piece_begin_);
    }

    ByteSource& source_;
    const char* piece_begin_ = nullptr;
    const char* cursor_ = nullptr;
    const char* piece_end_ = nullptr;
    std::size_t piece_offset_ = 0;  // bytes of the stream before this piece
    std::size_t line_ = 1;
    std::size_t line_start_ = 0;     // offset of the current line's first byte
    bool looked_at_cursor_ = false;  // the byte at cursor_ counts as taken
    bool failed_ = false;
    bool source_ended_ = false;
    bool inside_value_ = false;
    JsonFailure failure_;
    std::string scratch_;
    std::string key_;
    std::vector<std::uint64_t> open_objects_;  // one bit per open container of skip_value
};

}  // namespace tarvo
