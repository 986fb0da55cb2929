// The developer's copy of the event log on standard error: only with
// TARVO_DEV_LOG_STDERR=1, one line per entry as log_line_text gives it. The
// setting is read once per process, so each case runs in a child of its own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "main/app_state.h"

namespace tarvo {
namespace {

// What a child wrote to standard error while it made the shared state and
// pushed one error line, with the variable set to `value` (unset: nothing).
std::string mirrored_by_child(const std::optional<std::string>& value) {
    int out[2];
    if (::pipe(out) != 0) return "no pipe";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDERR_FILENO);
        ::close(out[0]);
        if (value) ::setenv("TARVO_DEV_LOG_STDERR", value->c_str(), 1);
        else ::unsetenv("TARVO_DEV_LOG_STDERR");
        auto shared = create_shared_state({});
        push_log_str(*shared->lock(), "Błąd: żółć", LogLevel::error);
        ::_exit(0);
    }
    ::close(out[1]);
    std::string text;
    char chunk[256];
    for (ssize_t n; (n = ::read(out[0], chunk, sizeof chunk)) > 0;)
        text.append(chunk, static_cast<std::size_t>(n));
    ::close(out[0]);
    ::waitpid(pid, nullptr, 0);
    return text;
}

// Blanks out the clock, which the entries' own test checks.
std::string without_times(std::string text) {
    for (std::size_t at = 0; at < text.size(); at = text.find('\n', at) + 1) {
        text.replace(at, 8, "hh:mm:ss");
        if (text.find('\n', at) == std::string::npos) break;
    }
    return text;
}

TEST(LogMirror, CopiesEachEntryToStandardErrorOnlyWhenAskedFor) {
    EXPECT_EQ(without_times(mirrored_by_child("1")),
              "hh:mm:ss [neutral] Sprawdzanie łączności ze stacją Orkiestratora SD-WAN...\n"
              "hh:mm:ss [error] Błąd: żółć\n");
    for (const std::optional<std::string>& off :
         {std::optional<std::string>(), std::optional<std::string>("0"), std::optional<std::string>(""),
          std::optional<std::string>("yes")})
        EXPECT_EQ(mirrored_by_child(off), "") << off.value_or("(unset)");
}

}  // namespace
}  // namespace tarvo
