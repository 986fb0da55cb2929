// The bytes of the files the program carries inside itself, by file name
// ("wireguard.dll", "tapinstall.exe", ...). Which copies are embedded is
// decided when the program is built: released third-party files for a release,
// stand-ins otherwise.
#pragma once

#include <optional>
#include <string_view>

namespace tarvo::assets {

std::optional<std::string_view> find(std::string_view name);

}  // namespace tarvo::assets
