// Running the system tools (netsh, powershell, sc, ping, the TAP installer)
// hidden, with their exit code and output as the callers read them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os_error.h"
#include "platform/process.h"
#include "text/utf8.h"
#include "util/expected.h"

namespace tarvo {

struct CommandOutput {
    std::int32_t code = 0;  // exit code; -1 when the child could not be run
    std::string text;       // stdout then stderr, lossy UTF-8; or the error text
};

CommandOutput run_hidden(std::string_view program, const std::vector<std::string>& args);

// The same, with the child's current folder set to `working_dir`.
CommandOutput run_hidden_in(std::string_view program, const std::vector<std::string>& args,
                            const std::filesystem::path& working_dir);

// Bytes as UTF-8 with every invalid sequence replaced by U+FFFD.
using text::decode_utf8_lossy;

// What a caller sees of a child run: -1 and the error's text when it could not
// be started or its exit status could not be read, else its exit code and
// standard output followed by standard error (as much as could be read).
CommandOutput command_output_from(const Expected<platform::ProcessOutput, platform::OsError>& result);

}  // namespace tarvo
