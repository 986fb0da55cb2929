// The developer's copy of the event log on standard error: only with
// TARVO_DEV_LOG_STDERR=1, one line per entry as log_line_text gives it, with
// outside text's controls escaped. The setting is read once per process, so
// each case runs a helper program of its own (a fresh process, not a fork of
// this one, which may have read it already).
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/process.h"
#include "support/helper_programs.h"

namespace tarvo {
namespace {

// What the helper wrote to standard error after logging `text` as an error,
// with the variable set to `value` (unset: nothing).
std::string mirrored_by_child(const std::optional<std::string>& value,
                              const std::string& text = "Błąd: żółć") {
    std::vector<std::string> args;
    if (value) args = {"TARVO_DEV_LOG_STDERR=" + *value};
    else args = {"-u", "TARVO_DEV_LOG_STDERR"};
    args.push_back(testing::helper_program("log_mirror_child"));
    args.push_back(text);
    const auto output = platform::run_process_hidden("/usr/bin/env", args);
    if (!output) return "(not started: " + platform::describe(output.error()) + ")";
    if (output->exit_code != 0) return "(exit code " + std::to_string(output->exit_code) + ")";
    return output->stderr_bytes;
}

// Blanks out the clock, which the entries' own test checks.
std::string without_times(std::string text) {
    for (std::size_t at = 0; at < text.size(); at = text.find('\n', at) + 1) {
        text.replace(at, 8, "hh:mm:ss");
        if (text.find('\n', at) == std::string::npos) break;
    }
    return text;
}

constexpr const char* kFirstLine =
    "hh:mm:ss [neutral] Sprawdzanie łączności ze stacją Orkiestratora SD-WAN...\n";

TEST(LogMirror, CopiesEachEntryToStandardErrorOnlyWhenAskedFor) {
    EXPECT_EQ(without_times(mirrored_by_child("1")),
              std::string(kFirstLine) + "hh:mm:ss [error] Błąd: żółć\n");
    for (const std::optional<std::string>& off :
         {std::optional<std::string>(), std::optional<std::string>("0"), std::optional<std::string>(""),
          std::optional<std::string>("yes")})
        EXPECT_EQ(mirrored_by_child(off), "") << off.value_or("(unset)");
}

// A node name from the orchestrator that would clear the screen, move the
// cursor back over the line and ring the bell reaches the terminal as text.
TEST(LogMirror, WritesTheControlsOfOutsideTextEscaped) {
    const std::string name =
        "Biuro \x1b[2J\x1b[H\rŁódź\x07 \xC2\x9B"
        "31m\xFF";
    EXPECT_EQ(without_times(mirrored_by_child("1", "Węzeł: " + name)),
              std::string(kFirstLine) +
                  "hh:mm:ss [error] Węzeł: Biuro \\x1b[2J\\x1b[H\\x0dŁódź\\x07 \\u{9b}31m\\xff\n");
}

}  // namespace
}  // namespace tarvo
