// Keys come from the orchestrator: decoding must never crash, an accepted key
// must be exactly the 32 bytes its text stands for, and every refusal must be
// one of the two texts the start sequence wraps.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "wg_engine/base64.h"
#include "wg_engine/wg_key.h"

namespace {

std::string encode(const tarvo::WgKey& key) {
    constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (std::size_t i = 0; i < key.size(); i += 3) {
        const std::uint32_t a = key[i];
        const std::uint32_t b = i + 1 < key.size() ? key[i + 1] : 0;
        const std::uint32_t c = i + 2 < key.size() ? key[i + 2] : 0;
        const std::uint32_t bits = a << 16 | b << 8 | c;
        text += alphabet[bits >> 18 & 63];
        text += alphabet[bits >> 12 & 63];
        text += i + 1 < key.size() ? alphabet[bits >> 6 & 63] : '=';
        text += i + 2 < key.size() ? alphabet[bits & 63] : '=';
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto key = tarvo::decode_wg_key(input);
    if (key) {
        // Strict decoding has one text per key: re-encoding gives the input, trimmed.
        const std::string text = encode(*key);
        if (input.find(text) == std::string_view::npos) std::abort();
        const auto again = tarvo::decode_wg_key(text);
        if (!again || *again != *key) std::abort();
    } else {
        const std::string& e = key.error();
        const bool base64 = e.rfind("Błąd Base64: ", 0) == 0;
        const bool length = e.rfind("Klucz ma ", 0) == 0 && e.ends_with(" bajtów (wymagane 32)");
        if (!base64 && !length) std::abort();
    }
    (void)tarvo::decode_base64(input);
    return 0;
}
