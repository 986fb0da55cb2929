// File-system operations whose errors the client shows to the user, so they
// carry the system's own error code and message.
#pragma once

#include <filesystem>

#include "platform/os_error.h"
#include "util/expected.h"

namespace tarvo::platform {

// Creates the folder and every missing parent; an existing folder is no error.
Status<OsError> create_directories(const std::filesystem::path& folder);

// Moves `from` over `to`, replacing an existing file; atomic where the file
// system allows it (same folder).
Status<OsError> replace_file(const std::filesystem::path& from, const std::filesystem::path& to);

// Lets the file be run as a program. Windows decides that by the file name, so
// there this does nothing; POSIX sets the run bits.
Status<OsError> make_executable(const std::filesystem::path& file);

// True when both paths name one existing file (also through a link or
// another spelling of the same path); false when either cannot be opened.
bool is_same_file(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace tarvo::platform
