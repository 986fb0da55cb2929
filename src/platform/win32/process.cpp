#include "platform/process.h"

#include <windows.h>

#include <cstdlib>
#include <thread>
#include <utility>

#include "platform/win32/owned_handle.h"
#include "platform/win32/wide_text.h"
#include "platform/windows_command_line.h"

namespace tarvo::platform {

namespace {

using win32::OwnedHandle;

// The child's end (`write`) is inheritable; ours (`read`) is not.
struct OutputPipe {
    OwnedHandle read;
    OwnedHandle write;
};

SECURITY_ATTRIBUTES inheritable() { return {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE}; }

Expected<OutputPipe, OsError> make_output_pipe() {
    SECURITY_ATTRIBUTES attributes = inheritable();
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!CreatePipe(&read, &write, &attributes, 0)) return unexpected(last_os_error());
    OutputPipe pipe{OwnedHandle(read), OwnedHandle(write)};
    if (!SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0)) return unexpected(last_os_error());
    return pipe;
}

Expected<OwnedHandle, OsError> open_null_input() {
    SECURITY_ATTRIBUTES attributes = inheritable();
    HANDLE null_device = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     &attributes, OPEN_EXISTING, 0, nullptr);
    if (null_device == INVALID_HANDLE_VALUE) return unexpected(last_os_error());
    return OwnedHandle(null_device);
}

struct Drained {
    std::string bytes;
    DWORD error = ERROR_SUCCESS;
};

// Reads until every writer has closed its end.
Drained drain(HANDLE pipe) {
    Drained result;
    char buffer[8192];
    while (true) {
        DWORD count = 0;
        if (!ReadFile(pipe, buffer, sizeof buffer, &count, nullptr)) {
            const DWORD error = GetLastError();
            if (error != ERROR_BROKEN_PIPE) result.error = error;
            return result;
        }
        result.bytes.append(buffer, count);
    }
}

// Only the three standard handles of this child are inherited, so a child
// started at the same time by another thread cannot hold our pipes open.
class InheritedHandles {
public:
    InheritedHandles() = default;
    InheritedHandles(const InheritedHandles&) = delete;
    InheritedHandles& operator=(const InheritedHandles&) = delete;
    ~InheritedHandles() {
        if (initialised_) DeleteProcThreadAttributeList(list());
    }

    Status<OsError> set(HANDLE input, HANDLE output, HANDLE error) {
        handles_[0] = input;
        handles_[1] = output;
        handles_[2] = error;
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        storage_.resize(size);
        if (!InitializeProcThreadAttributeList(list(), 1, 0, &size))
            return unexpected(last_os_error());
        initialised_ = true;
        if (!UpdateProcThreadAttribute(list(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_,
                                       sizeof handles_, nullptr, nullptr))
            return unexpected(last_os_error());
        return Unit{};
    }

    LPPROC_THREAD_ATTRIBUTE_LIST list() {
        return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    }

private:
    std::string storage_;
    HANDLE handles_[3] = {};
    bool initialised_ = false;
};

std::wstring command_line_for(std::string_view program, const std::vector<std::string>& args) {
    std::vector<std::string> all;
    all.reserve(args.size() + 1);
    all.emplace_back(program);
    all.insert(all.end(), args.begin(), args.end());
    return win32::to_wide(compose_windows_command_line(all));
}

}  // namespace

Expected<ProcessOutput, OsError> run_process_hidden(
    std::string_view program, const std::vector<std::string>& args,
    const std::optional<std::filesystem::path>& working_dir) {
    auto input = open_null_input();
    if (!input) return unexpected(input.error());
    auto out = make_output_pipe();
    if (!out) return unexpected(out.error());
    auto err = make_output_pipe();
    if (!err) return unexpected(err.error());

    InheritedHandles inherited;
    if (auto set = inherited.set(input->get(), out->write.get(), err->write.get()); !set)
        return unexpected(set.error());

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input->get();
    startup.StartupInfo.hStdOutput = out->write.get();
    startup.StartupInfo.hStdError = err->write.get();
    startup.lpAttributeList = inherited.list();

    // No application name: a bare tool name is found by the system's own
    // search (the program's folder, the system folders, then PATH).
    std::wstring command_line = command_line_for(program, args);
    PROCESS_INFORMATION child{};
    if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE,
                        CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                        working_dir ? working_dir->c_str() : nullptr, &startup.StartupInfo,
                        &child))
        return unexpected(last_os_error());
    OwnedHandle process(child.hProcess);
    CloseHandle(child.hThread);

    // Our copies of the child's ends must go, or the reads never see the end.
    input->close();
    out->write.close();
    err->write.close();

    Drained stderr_result;
    std::thread stderr_reader;
    try {
        stderr_reader = std::thread([&] { stderr_result = drain(err->read.get()); });
    } catch (...) {
        std::abort();  // a thread that cannot be started ends the process
    }
    Drained stdout_result = drain(out->read.get());
    stderr_reader.join();

    WaitForSingleObject(process.get(), INFINITE);
    DWORD exit_code = 0;
    if (!GetExitCodeProcess(process.get(), &exit_code)) return unexpected(last_os_error());
    if (stdout_result.error != ERROR_SUCCESS)
        return unexpected(os_error(static_cast<int>(stdout_result.error)));
    if (stderr_result.error != ERROR_SUCCESS)
        return unexpected(os_error(static_cast<int>(stderr_result.error)));

    return ProcessOutput{static_cast<std::int32_t>(exit_code), std::move(stdout_result.bytes),
                         std::move(stderr_result.bytes)};
}

}  // namespace tarvo::platform
