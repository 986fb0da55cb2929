#include "wg_engine/base64.h"

#include <array>
#include <cstdio>

namespace tarvo {

namespace {

constexpr std::array<std::int8_t, 256> make_alphabet_table() {
    std::array<std::int8_t, 256> table{};
    for (auto& v : table) v = -1;
    constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::size_t i = 0; i < alphabet.size(); ++i)
        table[static_cast<unsigned char>(alphabet[i])] = static_cast<std::int8_t>(i);
    return table;
}

constexpr auto kValues = make_alphabet_table();

std::string describe_byte(unsigned char byte) {
    char text[32];
    if (byte >= 0x20 && byte < 0x7f) std::snprintf(text, sizeof text, "0x%02X ('%c')", byte, byte);
    else std::snprintf(text, sizeof text, "0x%02X", byte);
    return text;
}

std::string at(std::size_t offset) { return " na pozycji " + std::to_string(offset); }

}  // namespace

Expected<std::vector<std::uint8_t>, std::string> decode_base64(std::string_view text) {
    // Where the '=' end characters begin (the text's length when there are none).
    std::size_t data_end = text.size();
    while (data_end > 0 && text[data_end - 1] == '=' && text.size() - data_end < 2) --data_end;
    for (std::size_t i = 0; i < data_end; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (kValues[byte] < 0) return unexpected("niedozwolony bajt " + describe_byte(byte) + at(i));
    }
    const std::size_t padding = text.size() - data_end;
    if (data_end % 4 == 1)
        return unexpected("długość " + std::to_string(data_end) +
                          " znaków danych nie daje pełnego bajtu (reszta 6 bitów)");
    const std::size_t needed = (4 - data_end % 4) % 4;
    if (padding != needed)
        return unexpected("nieprawidłowe dopełnienie: " + std::to_string(padding) + " znaków '=' zamiast " +
                          std::to_string(needed) + at(data_end));

    std::vector<std::uint8_t> bytes;
    bytes.reserve(data_end / 4 * 3 + 2);
    std::uint32_t bits = 0;
    int bit_count = 0;
    for (std::size_t i = 0; i < data_end; ++i) {
        bits = bits << 6 | static_cast<std::uint32_t>(kValues[static_cast<unsigned char>(text[i])]);
        bit_count += 6;
        if (bit_count >= 8) {
            bit_count -= 8;
            bytes.push_back(static_cast<std::uint8_t>(bits >> bit_count));
        }
    }
    // Only the canonical last character is accepted: its unused bits are zero.
    if ((bits & ((1u << bit_count) - 1)) != 0) {
        const auto last = static_cast<unsigned char>(text[data_end - 1]);
        return unexpected("niezerowe nieużywane bity ostatniego znaku " + describe_byte(last) +
                          at(data_end - 1));
    }
    return bytes;
}

}  // namespace tarvo
