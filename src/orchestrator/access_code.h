// Access codes: device keys ("ABCD1234EFGH") and service passes
// ("PASS-48H-ABCD1234"), their check and their canonical form, and the
// display form of a pass's expiry time.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvo {

// The typed code without any White_Space character or hyphen-minus, in upper
// case by the full Unicode mapping ("ß" -> "SS"); a well-formed service pass
// in its canonical form "PASS-{hours}H-{eight}". Each byte of invalid UTF-8
// becomes U+FFFD (and makes the code malformed), so normalising is stable.
std::string normalize_access_code(std::string_view code);

// True when the cleaned code is a device key (12 ASCII letters or digits) or
// a service pass ("PASS", 1-4 digits, "H", 8 ASCII letters or digits).
bool is_valid_access_code(std::string_view code);

// "aktywna" when absent or blank; else the trimmed time stamp with every "T"
// made a blank, trailing "Z"s dropped, cut to 16 characters.
std::string format_pass_expiry(const std::optional<std::string>& expires_at);

}  // namespace tarvo
