#include "platform/command_line.h"

#include <windows.h>

#include "platform/win32/wide_text.h"
#include "text/windows_command_line.h"

namespace tarvo::platform {

// The C runtime's argv is in the ANSI code page; the process's own wide
// command line holds the arguments exactly.
std::vector<std::string> process_arguments(int, char**) {
    return text::split_windows_command_line(win32::from_wide(GetCommandLineW()));
}

}  // namespace tarvo::platform
