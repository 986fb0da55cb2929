#include "drivers/hidden_command.h"

namespace tarvo {

CommandOutput command_output_from(const Expected<platform::ProcessOutput, platform::OsError>& result) {
    if (!result) return {-1, platform::describe(result.error())};
    // A child that ran keeps its exit code even when some of its output was
    // lost; only a status that could not be read at all reads as -1.
    if (!result->exit_code_read) return {-1, platform::describe(*result->collect_error)};
    return {result->exit_code,
            decode_utf8_lossy(result->stdout_bytes) + decode_utf8_lossy(result->stderr_bytes)};
}

CommandOutput run_hidden(std::string_view program, const std::vector<std::string>& args) {
    return command_output_from(platform::run_process_hidden(program, args));
}

CommandOutput run_hidden_in(std::string_view program, const std::vector<std::string>& args,
                            const std::filesystem::path& working_dir) {
    return command_output_from(platform::run_process_hidden(program, args, working_dir));
}

}  // namespace tarvo
