// Runs a program as a hidden child process and collects what it printed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os_error.h"
#include "util/expected.h"

namespace tarvo::platform {

struct ProcessOutput {
    std::int32_t exit_code = 0;  // the 32 bits of the exit status, as signed; -1 when unread
    std::string stdout_bytes;    // raw bytes, in the order the child wrote them
    std::string stderr_bytes;
    // Set when the child was started but reading its output or its exit
    // status failed afterwards: it ran all the same, and what could be read
    // is kept above.
    std::optional<OsError> collect_error;
    bool exit_code_read = true;  // false: the exit status could not be read
};

// Starts `program` with `args`, no console window, standard input the null
// device, both output pipes drained while the child runs; waits for it. A bare
// tool name is looked for in the system folder, then in the absolute folders of
// PATH, never in the program's own folder or the current folder; a name with a
// folder part is used as given. `working_dir`, when given, is the child's
// current folder. The error is only for a child that could not be started; a
// failure after the start is the output's `collect_error`.
Expected<ProcessOutput, OsError> run_process_hidden(
    std::string_view program, const std::vector<std::string>& args,
    const std::optional<std::filesystem::path>& working_dir = std::nullopt);

}  // namespace tarvo::platform
