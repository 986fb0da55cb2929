// An error reported by the operating system: its code and the system's own
// message for it, as the event log and status texts show them.
#pragma once

#include <string>

namespace tarvo::platform {

struct OsError {
    int code = 0;
    std::string message;  // the system's text for `code`, without the code
};

// "{message} (os error {code})", the form every Polish error text embeds.
inline std::string describe(const OsError& e) {
    return e.message + " (os error " + std::to_string(e.code) + ")";
}

// The system's message for an error code of this platform (errno on POSIX,
// GetLastError on Windows).
OsError os_error(int code);

// The error of the last failed system call on this thread.
OsError last_os_error();

}  // namespace tarvo::platform
