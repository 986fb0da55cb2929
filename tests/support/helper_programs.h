// Test helper programs are built next to the test binaries.
#pragma once

#include <string>
#include <string_view>

#include "platform/paths.h"

#ifndef TARVO_EXE_SUFFIX
#error "the test build defines TARVO_EXE_SUFFIX"
#endif

namespace tarvo::testing {

// The path of helper `name` (e.g. "echo_args") as UTF-8 text.
inline std::string helper_program(std::string_view name) {
    const auto self = platform::own_executable_path();
    if (!self) return std::string(name);
    return platform::path_text(self->parent_path() / (std::string(name) + TARVO_EXE_SUFFIX));
}

}  // namespace tarvo::testing
