#include "platform/win32/child_output.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

namespace tarvo::platform::win32 {

namespace {

BOOL system_read_file(HANDLE file, void* buffer, DWORD size, DWORD* count) {
    return ReadFile(file, buffer, size, count, nullptr);
}
DWORD system_wait(HANDLE process) { return WaitForSingleObject(process, INFINITE); }
BOOL system_exit_code(HANDLE process, DWORD* code) { return GetExitCodeProcess(process, code); }

struct Drained {
    std::string bytes;
    DWORD error = ERROR_SUCCESS;
};

// Reads until every writer has closed its end (the broken pipe), or the
// first other failure.
Drained drain(HANDLE pipe, const ChildCalls& calls) {
    Drained result;
    char buffer[8192];
    while (true) {
        DWORD count = 0;
        if (!calls.read_file(pipe, buffer, sizeof buffer, &count)) {
            const DWORD error = GetLastError();
            if (error != ERROR_BROKEN_PIPE) result.error = error;
            return result;
        }
        result.bytes.append(buffer, count);
    }
}

}  // namespace

const ChildCalls& system_child_calls() {
    static const ChildCalls calls{system_read_file, system_wait, system_exit_code};
    return calls;
}

ProcessOutput collect_child_output(HANDLE process, HANDLE out_read, HANDLE err_read, const ChildCalls& calls) {
    Drained stderr_result;
    std::thread stderr_reader;
    try {
        stderr_reader = std::thread([&] { stderr_result = drain(err_read, calls); });
    } catch (...) {
        std::abort();  // a thread that cannot be started ends the process
    }
    Drained stdout_result = drain(out_read, calls);
    stderr_reader.join();

    ProcessOutput output;
    output.stdout_bytes = std::move(stdout_result.bytes);
    output.stderr_bytes = std::move(stderr_result.bytes);
    const auto keep_first = [&](DWORD error) {
        if (error != ERROR_SUCCESS && !output.collect_error) output.collect_error = os_error(static_cast<int>(error));
    };
    keep_first(stdout_result.error);
    keep_first(stderr_result.error);

    // A failed wait says nothing of the child's end: its "exit code" could
    // still be the running mark (259), so it is not read then.
    DWORD exit_code = 0;
    if (calls.wait(process) != WAIT_OBJECT_0 || !calls.exit_code(process, &exit_code)) {
        const DWORD error = GetLastError();
        keep_first(error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE);
        output.exit_code = -1;
        output.exit_code_read = false;
    } else {
        output.exit_code = static_cast<std::int32_t>(exit_code);
    }
    return output;
}

}  // namespace tarvo::platform::win32
