#include "json/strict_json.h"

#include "json/json_escape.h"
#include "text/utf16_text.h"
#include "text/utf8.h"

namespace tarvo {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

void StrictJsonReader::skip_whitespace() {
    while (pos_ < text_.size()) {
        const char c = text_[pos_];
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') break;
        ++pos_;
    }
}

char StrictJsonReader::peek() {
    skip_whitespace();
    return pos_ < text_.size() ? text_[pos_] : '\0';
}

bool StrictJsonReader::consume(char c) {
    if (peek() != c || pos_ >= text_.size()) return false;
    ++pos_;
    return true;
}

bool StrictJsonReader::at_end() {
    skip_whitespace();
    return pos_ == text_.size();
}

std::optional<unsigned> StrictJsonReader::read_hex4() {
    if (text_.size() - pos_ < 4) return std::nullopt;
    unsigned value = 0;
    for (int k = 0; k < 4; ++k) {
        const int digit = json_escape::hex_digit_value(text_[pos_++]);
        if (digit < 0) return std::nullopt;
        value = (value << 4) | static_cast<unsigned>(digit);
    }
    return value;
}

std::optional<std::string> StrictJsonReader::read_string() {
    if (!consume('"')) return std::nullopt;
    std::string out;
    while (pos_ < text_.size()) {
        const char c = text_[pos_++];
        if (c == '"') return out;
        if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;  // raw control character
        if (c != '\\') {
            out.push_back(c);  // the whole text was checked to be UTF-8 beforehand
            continue;
        }
        if (pos_ >= text_.size()) return std::nullopt;
        const char escape = text_[pos_++];
        if (const char simple = json_escape::simple_escape(escape)) {
            out.push_back(simple);
            continue;
        }
        if (escape != 'u') return std::nullopt;
        auto unit = read_hex4();
        if (!unit) return std::nullopt;
        char32_t cp = *unit;
        if (text::is_low_surrogate(cp)) return std::nullopt;  // lone trailing surrogate
        if (text::is_high_surrogate(cp)) {
            if (text_.substr(pos_, 2) != "\\u") return std::nullopt;
            pos_ += 2;
            auto low = read_hex4();
            if (!low || !text::is_low_surrogate(*low)) return std::nullopt;
            cp = text::combine_surrogates(cp, *low);
        }
        text::append_utf8(out, cp);
    }
    return std::nullopt;  // unterminated
}

bool StrictJsonReader::read_literal(std::string_view word) {
    skip_whitespace();
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
}

std::optional<bool> StrictJsonReader::read_bool() {
    if (peek() == 't') return read_literal("true") ? std::optional<bool>(true) : std::nullopt;
    if (peek() == 'f') return read_literal("false") ? std::optional<bool>(false) : std::nullopt;
    return std::nullopt;
}

bool StrictJsonReader::skip_number() {
    skip_whitespace();
    auto next_is_digit = [&] { return pos_ < text_.size() && is_digit(text_[pos_]); };
    if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
    if (!next_is_digit()) return false;
    if (text_[pos_] == '0') ++pos_;
    else
        while (next_is_digit()) ++pos_;
    if (pos_ < text_.size() && text_[pos_] == '.') {
        ++pos_;
        if (!next_is_digit()) return false;
        while (next_is_digit()) ++pos_;
    }
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
        ++pos_;
        if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
        if (!next_is_digit()) return false;
        while (next_is_digit()) ++pos_;
    }
    return true;
}

bool StrictJsonReader::skip_value(int depth) {
    switch (peek()) {
        case '"': return read_string().has_value();
        case 't': return read_literal("true");
        case 'f': return read_literal("false");
        case 'n': return read_literal("null");
        case '[': {
            if (depth + 1 > kMaxDepth) return false;
            consume('[');
            if (consume(']')) return true;
            do {
                if (!skip_value(depth + 1)) return false;
            } while (consume(','));
            return consume(']');
        }
        case '{': {
            if (depth + 1 > kMaxDepth) return false;
            consume('{');
            if (consume('}')) return true;
            do {
                if (peek() != '"' || !read_string() || !consume(':') || !skip_value(depth + 1)) return false;
            } while (consume(','));
            return consume('}');
        }
        default: return skip_number();
    }
}

}  // namespace tarvo
