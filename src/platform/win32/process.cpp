#include "platform/process.h"

#include <windows.h>

#include <utility>

#include "platform/paths.h"
#include "platform/win32/child_output.h"
#include "platform/win32/owned_handle.h"
#include "platform/win32/wide_text.h"
#include "text/windows_command_line.h"

namespace tarvo::platform {

namespace {

using win32::OwnedHandle;

bool is_file(const std::filesystem::path& candidate) {
    const DWORD attributes = GetFileAttributesW(candidate.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::optional<std::filesystem::path> system_folder() {
    wchar_t buffer[MAX_PATH];
    const UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::nullopt;
    return std::filesystem::path(std::wstring(buffer, length));
}

// The system folder, PowerShell's folder below it, then the absolute folders
// of PATH (an entry may be quoted). A relative entry would name the current
// folder or one below it, so it is left out.
std::vector<std::filesystem::path> tool_folders() {
    std::vector<std::filesystem::path> folders;
    if (auto system = system_folder()) {
        folders.push_back(*system);
        folders.push_back(*system / L"WindowsPowerShell" / L"v1.0");
    }
    const std::string path = environment_variable("PATH").value_or("");
    std::string_view entries = path;
    while (!entries.empty()) {
        const std::size_t semicolon = entries.find(';');
        std::string_view entry = entries.substr(0, semicolon);
        entries.remove_prefix(semicolon == std::string_view::npos ? entries.size() : semicolon + 1);
        if (entry.size() >= 2 && entry.front() == '"' && entry.back() == '"')
            entry = entry.substr(1, entry.size() - 2);
        auto folder = path_from_text(entry);
        if (folder.is_absolute()) folders.push_back(std::move(folder));
    }
    return folders;
}

// A bare tool name is never looked for in the program's own folder or the
// current folder, the first places CreateProcessW would try: the client runs
// as administrator, often started from a downloads folder, and would run any
// netsh.exe put there. A name with a folder part is used as given.
std::optional<std::filesystem::path> find_program(std::string_view program) {
    if (program.find_first_of("\\/:") != std::string_view::npos) return path_from_text(program);
    if (program.empty()) return std::nullopt;
    auto file_name = path_from_text(program);
    if (!file_name.has_extension()) file_name += L".exe";
    for (const auto& folder : tool_folders()) {
        auto candidate = folder / file_name;
        if (is_file(candidate)) return candidate;
    }
    return std::nullopt;
}

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
    HANDLE null_device = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes,
                                     OPEN_EXISTING, 0, nullptr);
    if (null_device == INVALID_HANDLE_VALUE) return unexpected(last_os_error());
    return OwnedHandle(null_device);
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
        if (!InitializeProcThreadAttributeList(list(), 1, 0, &size)) return unexpected(last_os_error());
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
    return win32::to_wide(text::compose_windows_command_line(all));
}

}  // namespace

Expected<ProcessOutput, OsError> run_process_hidden(std::string_view program,
                                                    const std::vector<std::string>& args,
                                                    const std::optional<std::filesystem::path>& working_dir) {
    const auto application = find_program(program);
    if (!application) return unexpected(os_error(ERROR_FILE_NOT_FOUND));
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

    // The program's full path as the application name: Windows then searches
    // nowhere, and the command line still begins with the name as given.
    std::wstring command_line = command_line_for(program, args);
    PROCESS_INFORMATION child{};
    if (!CreateProcessW(application->c_str(), command_line.data(), nullptr, nullptr, TRUE,
                        CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                        working_dir ? working_dir->c_str() : nullptr, &startup.StartupInfo, &child))
        return unexpected(last_os_error());
    OwnedHandle process(child.hProcess);
    CloseHandle(child.hThread);

    // Our copies of the child's ends must go, or the reads never see the end.
    input->close();
    out->write.close();
    err->write.close();

    // The child runs: from here on nothing is a failure to start it.
    return win32::collect_child_output(process.get(), out->read.get(), err->read.get());
}

}  // namespace tarvo::platform
