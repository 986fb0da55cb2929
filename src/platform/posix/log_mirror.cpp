#include "platform/log_mirror.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "text/utf8.h"

namespace tarvo::platform {

bool log_mirror_enabled() {
    static const bool enabled = [] {
        const char* value = std::getenv("TARVO_DEV_LOG_STDERR");
        return value && std::strcmp(value, "1") == 0;
    }();
    return enabled;
}

void mirror_log_line(std::string_view line) {
    if (!log_mirror_enabled()) return;
    // Log texts carry outside text (node names, error bodies): on a terminal
    // it is shown, never obeyed. One write per line, so lines of several
    // threads never interleave.
    std::string text = text::escape_controls(line);
    text += '\n';
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace tarvo::platform
