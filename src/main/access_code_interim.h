// Cleaning and checking of device keys and service passes (ASCII form).
#pragma once

#include <string>
#include <string_view>

namespace tarvo {

// Removes whitespace and every "-", upper-cases the rest; a well-formed
// service pass comes back as "PASS-{hours}H-{eight}".
std::string normalize_access_code(std::string_view code);

// True when the cleaned code is a 12-character device key or a service pass.
bool is_valid_access_code(std::string_view code);

}  // namespace tarvo
