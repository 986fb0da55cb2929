// The pieces of a JSON string escape both readers decode the same way.
#pragma once

namespace tarvo::json_escape {

// The value of one hexadecimal digit, or -1.
constexpr int hex_digit_value(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The character a one-letter escape (after the backslash) stands for, or 0
// for 'u' and for anything that is no escape.
constexpr char simple_escape(int c) {
    switch (c) {
        case '"': return '"';
        case '\\': return '\\';
        case '/': return '/';
        case 'b': return '\b';
        case 'f': return '\f';
        case 'n': return '\n';
        case 'r': return '\r';
        case 't': return '\t';
        default: return 0;
    }
}

}  // namespace tarvo::json_escape
