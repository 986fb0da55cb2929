#include "wg_engine/wg_key.h"

#include <algorithm>

#include "text/unicode_text.h"
#include "wg_engine/base64.h"

namespace tarvo {

Expected<WgKey, std::string> decode_wg_key(std::string_view text) {
    auto bytes = decode_base64(unicode::trim_white_space(text));
    if (!bytes) return unexpected("Błąd Base64: " + bytes.error());
    WgKey key{};
    if (bytes->size() != key.size())
        return unexpected("Klucz ma " + std::to_string(bytes->size()) + " bajtów (wymagane 32)");
    std::copy(bytes->begin(), bytes->end(), key.begin());
    return key;
}

}  // namespace tarvo
