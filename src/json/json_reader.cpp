#include "json/json_reader.h"

#include "json/json_escape.h"
#include "text/utf16_text.h"
#include "text/utf8.h"

#include <array>
#include <charconv>
#include <cstring>
#include <limits>
#include <system_error>

namespace tarvo {

namespace {

bool is_digit(int c) { return c >= '0' && c <= '9'; }

// Checks the raw bytes of a string as UTF-8 as they pass. A fault is only
// remembered: the string is still read to its end, and the fault is
// reported there.
struct Utf8Check {
    int pending = 0;  // continuation bytes still expected
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    bool bad = false;

    void step(unsigned char c) {
        if (bad) return;
        if (pending) {
            if (c < low || c > high) {
                bad = true;
                return;
            }
            low = 0x80;
            high = 0xBF;
            --pending;
            return;
        }
        if (c < 0xC2) {
            bad = true;  // a stray continuation byte or an overlong lead
        } else if (c < 0xE0) {
            pending = 1;
        } else if (c < 0xF0) {
            pending = 2;
            low = c == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
            high = c == 0xED ? 0x9F : 0xBF;  // no surrogates
        } else if (c < 0xF5) {
            pending = 3;
            low = c == 0xF0 ? 0x90 : 0x80;
            high = c == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
        } else {
            bad = true;
        }
    }
    // An ASCII byte or an escape cut a multi-byte sequence short.
    void interrupt() {
        if (pending) {
            pending = 0;
            bad = true;
        }
    }
};

// The significant decimal digits of a floating-point number being read,
// bounded in size: digits past the bound only matter for rounding, which a
// trailing non-zero digit stands in for.
class FloatDigits {
public:
    void add_integer_digit(char d) {
        if (count_ == 0 && d == '0') return;
        if (count_ < digits_.size()) {
            digits_[count_++] = d;
        } else {
            ++scale_;
            dropped_nonzero_ |= d != '0';
        }
    }
    void add_fraction_digit(char d) {
        if (count_ == 0 && d == '0') {
            --scale_;
            return;
        }
        if (count_ < digits_.size()) {
            digits_[count_++] = d;
            --scale_;
        } else {
            dropped_nonzero_ |= d != '0';
        }
    }
    void add_whole_number(std::uint64_t n) {
        char text[24];
        const auto end = std::to_chars(text, text + sizeof text, n).ptr;
        for (const char* p = text; p != end; ++p) add_integer_digit(*p);
    }
    // False when the magnitude is too large for a double.
    bool evaluate(bool negative, std::int64_t exponent, double& out) const {
        const double sign = negative ? -1.0 : 1.0;
        if (count_ == 0) {
            out = sign * 0.0;
            return true;
        }
        std::int64_t scale = scale_ + exponent;
        const std::int64_t order = scale + static_cast<std::int64_t>(count_);
        if (order > 310) return false;
        if (order < -330) {
            out = sign * 0.0;
            return true;
        }
        std::array<char, 840> text;
        std::memcpy(text.data(), digits_.data(), count_);
        std::size_t length = count_;
        if (dropped_nonzero_) {
            text[length++] = '1';
            --scale;
        }
        text[length++] = 'e';
        const auto end = std::to_chars(text.data() + length, text.data() + text.size(), scale).ptr;
        double value = 0.0;
        const auto parsed = std::from_chars(text.data(), end, value);
        if (parsed.ec == std::errc::result_out_of_range) {
            if (order > 0) return false;
            value = 0.0;
        }
        out = sign * value;
        return true;
    }

private:
    std::array<char, 800> digits_;  // left uninitialised: most numbers never use it
    std::size_t count_ = 0;
    std::int64_t scale_ = 0;  // value = digits * 10^scale_
    bool dropped_nonzero_ = false;
};

// The shortest text that reads back as the same double, in positional
// notation and always with a decimal point ("5.0", "0.0000001").
std::string format_float(double value) {
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific).ptr;
    std::string_view s(text, static_cast<std::size_t>(end - text));
    std::string out;
    if (!s.empty() && s.front() == '-') {
        out += '-';
        s.remove_prefix(1);
    }
    const std::size_t e = s.find('e');
    std::string digits;
    for (char c : s.substr(0, e)) {
        if (c != '.') digits += c;
    }
    int exponent = 0;
    std::string_view exp_text = s.substr(e + 1);
    if (!exp_text.empty() && exp_text.front() == '+') exp_text.remove_prefix(1);
    std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exponent);
    if (exponent < 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out += digits;
        return out;
    }
    const auto whole = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= whole) {
        out += digits;
        out.append(whole - digits.size(), '0');
        out += ".0";
    } else {
        out += digits.substr(0, whole);
        out += '.';
        out += digits.substr(whole);
    }
    return out;
}

// A text between double quotes with quotes, backslashes and control
// characters escaped, as errors show an offending string.
std::string quote_text(std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        switch (c) {
            case '"': out += "\\\""; continue;
            case '\\': out += "\\\\"; continue;
            case '\n': out += "\\n"; continue;
            case '\r': out += "\\r"; continue;
            case '\t': out += "\\t"; continue;
            case '\0': out += "\\0"; continue;
            default: break;
        }
        unsigned code = 0;
        if (c < 0x20 || c == 0x7F) {
            code = c;
        } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
            code = static_cast<unsigned char>(text[++i]);  // a C1 control character
        } else {
            out += static_cast<char>(c);
            continue;
        }
        out += "\\u{";
        if (code >= 0x10) out += hex[code >> 4];
        out += hex[code & 0xF];
        out += '}';
    }
    out += '"';
    return out;
}

}  // namespace

std::string JsonFailure::text() const {
    if (!position) return message;
    return message + " at line " + std::to_string(position->line) + " column " +
           std::to_string(position->column);
}

std::string JsonNumber::describe() const {
    switch (kind) {
        case Kind::non_negative: return "integer `" + std::to_string(magnitude) + "`";
        case Kind::negative: return "integer `-" + std::to_string(magnitude) + "`";
        case Kind::floating: break;
    }
    return "floating point `" + format_float(value) + "`";
}

TextPosition JsonReader::position() const {
    std::size_t taken = offset_of(cursor_);
    if (looked_at_cursor_ && cursor_ < piece_end_) {
        if (*cursor_ == '\n') return {line_ + 1, 0};
        ++taken;
    }
    return {line_, taken - line_start_};
}

bool JsonReader::refill() {
    if (source_ended_ || failed_) return false;
    auto piece = source_.read();
    if (!piece) {
        failed_ = true;
        failure_.kind = piece.error().kind == StreamErrorKind::timed_out ? JsonFailureKind::stream_timed_out
                                                                         : JsonFailureKind::stream_other;
        failure_.message = piece.error().message;
        failure_.position = inside_value_ ? std::optional<TextPosition>(position()) : std::nullopt;
        return false;
    }
    piece_offset_ = offset_of(piece_end_);
    looked_at_cursor_ = false;
    if (piece->empty()) {
        source_ended_ = true;
        piece_begin_ = cursor_ = piece_end_ = nullptr;
        return false;
    }
    piece_begin_ = cursor_ = piece->data();
    piece_end_ = piece_begin_ + piece->size();
    return true;
}

int JsonReader::peek() {
    for (;;) {
        const char* p = cursor_;
        const char* const end = piece_end_;
        while (p < end) {
            const char c = *p;
            if (c == ' ' || c == '\t' || c == '\r') {
                ++p;
            } else if (c == '\n') {
                ++p;
                ++line_;
                line_start_ = offset_of(p);
            } else {
                cursor_ = p;
                looked_at_cursor_ = true;
                return static_cast<unsigned char>(c);
            }
        }
        cursor_ = p;
        if (!refill()) return failed_ ? failed : end_of_input;
    }
}

int JsonReader::peek_raw() {
    if (cursor_ == piece_end_ && !refill()) return failed_ ? failed : end_of_input;
    looked_at_cursor_ = true;
    return static_cast<unsigned char>(*cursor_);
}

bool JsonReader::fail(std::string message) {
    failed_ = true;
    failure_.kind = JsonFailureKind::invalid_data;
    failure_.message = std::move(message);
    failure_.position = position();
    return false;
}

bool JsonReader::fail_at_end(const char* message) {
    if (failed_) return false;  // the stream's own failure stands
    return fail(message);
}

bool JsonReader::read_literal_rest(std::string_view rest) {
    for (const char expected : rest) {
        const int c = peek_raw();
        if (c < 0) return fail_at_end("EOF while parsing a value");
        if (c != static_cast<unsigned char>(expected)) return fail("expected ident");
        take();
    }
    return true;
}

bool JsonReader::read_literal(int first) {
    take();
    return read_literal_rest(first == 'n' ? "ull" : first == 't' ? "rue" : "alse");
}

bool JsonReader::read_hex4(std::uint32_t& code) {
    code = 0;
    for (int i = 0; i < 4; ++i) {
        const int c = peek_raw();
        if (c < 0) return fail_at_end("EOF while parsing a string");
        const int v = json_escape::hex_digit_value(c);
        if (v < 0) return fail("invalid escape");
        take();
        code = code * 16 + static_cast<std::uint32_t>(v);
    }
    return true;
}

namespace {

// Appends to a string being kept, within its limit.
struct Keeper {
    std::string* out;
    std::size_t limit;
    bool* overflowed;

    void keep(const char* begin, std::size_t n) const {
        if (!out) return;
        const std::size_t room = limit - out->size();
        if (n > room) {
            n = room;
            if (overflowed) *overflowed = true;
        }
        out->append(begin, n);
    }
};

}  // namespace

bool JsonReader::read_escape(std::string* out, std::size_t limit, bool* overflowed) {
    const Keeper keeper{out, limit, overflowed};
    const int c = peek_raw();
    if (c < 0) return fail_at_end("EOF while parsing a string");
    const char simple = json_escape::simple_escape(c);
    if (!simple && c != 'u') return fail("invalid escape");
    take();
    if (simple) {
        keeper.keep(&simple, 1);
        return true;
    }
    std::uint32_t code = 0;
    if (!read_hex4(code)) return false;
    if (text::is_low_surrogate(code)) return fail("lone leading surrogate in hex escape");
    if (text::is_high_surrogate(code)) {
        for (const int expected : {'\\', 'u'}) {
            const int next = peek_raw();
            if (next < 0) return fail_at_end("EOF while parsing a string");
            if (next != expected) return fail("unexpected end of hex escape");
            take();
        }
        std::uint32_t trail = 0;
        if (!read_hex4(trail)) return false;
        if (!text::is_low_surrogate(trail)) return fail("lone leading surrogate in hex escape");
        code = text::combine_surrogates(code, trail);
    }
    if (out) {
        std::string encoded;
        text::append_utf8(encoded, code);
        keeper.keep(encoded.data(), encoded.size());
    }
    return true;
}

bool JsonReader::read_string(std::string* out, std::size_t limit, bool* overflowed) {
    if (out) out->clear();
    if (overflowed) *overflowed = false;
    const Keeper keeper{out, limit, overflowed};
    Utf8Check utf8;
    for (;;) {
        if (cursor_ == piece_end_ && !refill()) return fail_at_end("EOF while parsing a string");
        const char* p = cursor_;
        const char* const end = piece_end_;
        while (p < end) {
            const auto c = static_cast<unsigned char>(*p);
            if (c >= 0x80) {
                utf8.step(c);
                ++p;
                continue;
            }
            if (utf8.pending) utf8.interrupt();
            if (c < 0x20 || c == '"' || c == '\\') break;
            ++p;
        }
        keeper.keep(cursor_, static_cast<std::size_t>(p - cursor_));
        cursor_ = p;
        if (p == end) continue;
        const char c = *p;
        if (c == '"') {
            take();
            if (utf8.bad) return fail("invalid unicode code point");
            return true;
        }
        if (c == '\\') {
            take();
            if (!read_escape(out, limit, overflowed)) return false;
            continue;
        }
        looked_at_cursor_ = true;
        return fail("control character (\\u0000-\\u001F) found while parsing a string");
    }
}

bool JsonReader::read_number(JsonNumber& out, bool check_range) {
    // A dropped number cut short by the end of the body is named a bad
    // number; one being read for its value, the end of the value.
    const char* const cut_short = check_range ? "EOF while parsing a value" : "invalid number";
    bool negative = false;
    int c = peek_raw();
    if (c == '-') {
        negative = true;
        take();
        c = peek_raw();
        if (c < 0) return fail_at_end(cut_short);
    }
    if (!is_digit(c)) return fail("invalid number");

    FloatDigits digits;
    bool floating = false;
    std::uint64_t magnitude = 0;
    take();
    if (c == '0') {
        c = peek_raw();
        if (is_digit(c)) return fail("invalid number");
    } else {
        magnitude = static_cast<std::uint64_t>(c - '0');
        for (;;) {
            c = peek_raw();
            if (!is_digit(c)) break;
            const auto d = static_cast<std::uint64_t>(c - '0');
            if (!floating && magnitude > (std::numeric_limits<std::uint64_t>::max() - d) / 10) {
                floating = true;  // beyond 64 bits: a floating-point value
                if (check_range) digits.add_whole_number(magnitude);
            }
            if (floating) {
                if (check_range) digits.add_integer_digit(static_cast<char>(c));
            } else {
                magnitude = magnitude * 10 + d;
            }
            take();
        }
    }
    auto become_floating = [&] {
        if (!floating && check_range) digits.add_whole_number(magnitude);
        floating = true;
    };
    if (c == '.') {
        become_floating();
        take();
        bool any = false;
        for (;;) {
            c = peek_raw();
            if (!is_digit(c)) break;
            if (check_range) digits.add_fraction_digit(static_cast<char>(c));
            any = true;
            take();
        }
        if (!any) return c < 0 ? fail_at_end(cut_short) : fail("invalid number");
    }
    std::int64_t exponent = 0;
    if (c == 'e' || c == 'E') {
        become_floating();
        take();
        bool exponent_negative = false;
        c = peek_raw();
        if (c == '+' || c == '-') {
            exponent_negative = c == '-';
            take();
            c = peek_raw();
        }
        if (c < 0) return fail_at_end(cut_short);
        if (!is_digit(c)) return fail("invalid number");
        while (is_digit(c)) {
            if (exponent < 1'000'000'000) exponent = exponent * 10 + (c - '0');
            take();
            c = peek_raw();
        }
        if (exponent_negative) exponent = -exponent;
    }
    if (c == failed) return false;

    out = JsonNumber{};
    if (!floating) {
        out.magnitude = magnitude;
        if (!negative || magnitude == 0) {
            out.kind = JsonNumber::Kind::non_negative;
            return true;
        }
        if (magnitude <= std::uint64_t{1} << 63) {
            out.kind = JsonNumber::Kind::negative;
            return true;
        }
        out.kind = JsonNumber::Kind::floating;  // below the 64-bit range
        out.value = -static_cast<double>(magnitude);
        return true;
    }
    out.kind = JsonNumber::Kind::floating;
    if (check_range && !digits.evaluate(negative, exponent, out.value)) return fail("number out of range");
    return true;
}

bool JsonReader::read_member_key() {
    int c = peek();
    if (c < 0) return fail_at_end("EOF while parsing an object");
    if (c != '"') return fail("key must be a string");
    take();
    if (!read_string(nullptr)) return false;
    c = peek();
    if (c < 0) return fail_at_end("EOF while parsing an object");
    if (c != ':') return fail("expected `:`");
    take();
    return true;
}

bool JsonReader::skip_value(std::size_t container_limit, bool check_number_range) {
    std::size_t depth = 0;
    auto in_object = [&] { return (open_objects_[(depth - 1) / 64] >> ((depth - 1) % 64)) & 1; };
    JsonNumber number;
    for (;;) {
        const int c = peek();
        switch (c) {
            case failed: return false;
            case end_of_input: return fail("EOF while parsing a value");
            case 'n':
            case 't':
            case 'f':
                if (!read_literal(c)) return false;
                break;
            case '"':
                take();
                if (!read_string(nullptr)) return false;
                break;
            case '[':
            case '{': {
                if (depth == container_limit) return fail("recursion limit exceeded");
                take();
                const std::size_t word = depth / 64;
                if (word == open_objects_.size()) open_objects_.push_back(0);
                const std::uint64_t bit = std::uint64_t{1} << (depth % 64);
                open_objects_[word] = c == '{' ? open_objects_[word] | bit : open_objects_[word] & ~bit;
                ++depth;
                const int next = peek();
                if (next < 0)
                    return fail_at_end(c == '{' ? "EOF while parsing an object" : "EOF while parsing a list");
                if (next == (c == '{' ? '}' : ']')) {
                    take();
                    --depth;
                    break;  // an empty container is a whole value
                }
                if (c == '{' && !read_member_key()) return false;
                continue;
            }
            default:
                if (c != '-' && !is_digit(c)) return fail("expected value");
                if (!read_number(number, check_number_range)) return false;
                break;
        }
        // A value is complete: close what it completes, or go on to the next
        // element or member.
        for (;;) {
            if (depth == 0) return true;
            const bool object = in_object();
            const int next = peek();
            if (next == ',') {
                take();
                if (object && !read_member_key()) return false;
                break;
            }
            if (next == (object ? '}' : ']')) {
                take();
                --depth;
                continue;
            }
            if (next < 0)
                return fail_at_end(object ? "EOF while parsing an object" : "EOF while parsing a list");
            return fail(object ? "expected `,` or `}`" : "expected `,` or `]`");
        }
    }
}

bool JsonReader::fail_invalid_type(std::string_view expected) {
    const int c = peek();
    std::string description;
    switch (c) {
        case failed: return false;
        case end_of_input: return fail("EOF while parsing a value");
        case 'n':
        case 't':
        case 'f':
            if (!read_literal(c)) return false;
            description = c == 'n' ? "null" : c == 't' ? "boolean `true`" : "boolean `false`";
            break;
        case '"':
            take();
            if (!read_string(&scratch_)) return false;
            description = "string " + quote_text(scratch_);
            break;
        case '[': description = "sequence"; break;
        case '{': description = "map"; break;
        default: {
            if (c != '-' && !is_digit(c)) return fail("expected value");
            JsonNumber number;
            if (!read_number(number, true)) return false;
            description = number.describe();
        }
    }
    return fail("invalid type: " + description + ", expected " + std::string(expected));
}

bool JsonReader::finish() {
    const int c = peek();
    if (c == failed) return false;
    if (c == end_of_input) return true;
    return fail("trailing characters");
}

}  // namespace tarvo
