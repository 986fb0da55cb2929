// The standard Windows convention for composing and splitting a command line
// (the one CommandLineToArgvW and the C runtime undo). Portable: the Windows
// process seam uses it, and tests check it on every platform.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarvo::text {

// Quotes one argument so that it reaches the child as exactly that argument.
std::string quote_windows_argument(std::string_view arg);

// Joins `args` (program first) into one command line.
std::string compose_windows_command_line(const std::vector<std::string>& args);

// Splits a process command line into its arguments, the program name first.
std::vector<std::string> split_windows_command_line(std::string_view command_line);

}  // namespace tarvo::text
