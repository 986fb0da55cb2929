// Reading what a started child printed and how it ended. The system calls it
// makes are passed in, so a test can make any of them fail.
#pragma once

#include <windows.h>

#include "platform/process.h"

namespace tarvo::platform::win32 {

struct ChildCalls {
    BOOL (*read_file)(HANDLE file, void* buffer, DWORD size, DWORD* count);
    DWORD (*wait)(HANDLE process);  // WaitForSingleObject without a time limit
    BOOL (*exit_code)(HANDLE process, DWORD* code);
};

const ChildCalls& system_child_calls();

// Reads both pipes to their end (standard error on a thread of its own, so
// neither fills up and stalls the child), waits for the process and reads its
// exit status. The child ran: a failure on the way is kept as the output's
// `collect_error` (the first one seen) with whatever was read, never turned
// into a failed start. An exit status is read only once the wait has seen
// the process end.
ProcessOutput collect_child_output(HANDLE process, HANDLE out_read, HANDLE err_read,
                                   const ChildCalls& calls = system_child_calls());

}  // namespace tarvo::platform::win32
