// Standard Base64 (RFC 4648 alphabet) with the '=' end characters required,
// strict: no blanks, no line breaks, unused bits of the last character zero.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "util/expected.h"

namespace tarvo {

// The bytes, or a description of the first fault and where it is, e.g.
// "niedozwolony bajt 0x21 ('!') na pozycji 5".
Expected<std::vector<std::uint8_t>, std::string> decode_base64(std::string_view text);

}  // namespace tarvo
