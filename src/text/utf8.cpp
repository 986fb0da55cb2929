#include "text/utf8.h"

#include <cstddef>

namespace tarvo::text {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

void append_hex(std::string& out, unsigned value) {
    constexpr char digits[] = "0123456789abcdef";
    out += digits[(value >> 4) & 0xF];
    out += digits[value & 0xF];
}

}  // namespace

Utf8Step decode_utf8_at(std::string_view bytes, std::size_t i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return {lead, 1, true};
    std::size_t need = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    char32_t cp = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2;
        cp = lead & 0x0F;
        if (lead == 0xE0) lo = 0xA0;
        if (lead == 0xED) hi = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3;
        cp = lead & 0x07;
        if (lead == 0xF0) lo = 0x90;
        if (lead == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
        return {0, 1, false};
    }
    std::size_t k = 1;
    for (; k <= need && i + k < bytes.size(); ++k) {
        const unsigned char c = byte(i + k);
        if (c < (k == 1 ? lo : 0x80) || c > (k == 1 ? hi : 0xBF)) break;
        cp = (cp << 6) | (c & 0x3F);
    }
    if (k != need + 1) return {0, k, false};
    return {cp, k, true};
}

bool is_valid_utf8(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        const Utf8Step step = decode_utf8_at(bytes, i);
        if (!step.valid) return false;
        i += step.length;
    }
    return true;
}

std::string decode_utf8_lossy(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const Utf8Step step = decode_utf8_at(bytes, i);
        if (step.valid) out.append(bytes.substr(i, step.length));
        else out += kReplacement;
        i += step.length;
    }
    return out;
}

std::string escape_controls(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const Utf8Step step = decode_utf8_at(bytes, i);
        if (!step.valid) {
            for (std::size_t k = 0; k < step.length; ++k) {
                out += "\\x";
                append_hex(out, static_cast<unsigned char>(bytes[i + k]));
            }
        } else if (step.code_point < 0x20 || step.code_point == 0x7F) {
            out += "\\x";
            append_hex(out, step.code_point);
        } else if (step.code_point >= 0x80 && step.code_point <= 0x9F) {
            out += "\\u{";
            append_hex(out, step.code_point);
            out += '}';
        } else {
            out.append(bytes.substr(i, step.length));
        }
        i += step.length;
    }
    return out;
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace tarvo::text
