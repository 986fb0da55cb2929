// A link to a folder, as someone planting one would make it: a symbolic link
// on POSIX; on Windows a directory symbolic link, or under Wine (which makes
// none and cannot make junctions) a Unix symbolic link made by /bin/ln, which
// Wine shows as a folder with the reparse-point attribute.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <windows.h>

#include <chrono>
#include <thread>
#endif

namespace tarvo::testing {

#ifdef _WIN32
inline bool shows_as_link(const std::filesystem::path& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Runs a Unix program under Wine (which starts it without a handle to wait
// on) and waits, bounded, until `done` holds.
template <class Done>
bool run_unix_under_wine(const std::string& command_line, Done done) {
    std::wstring wide(command_line.begin(), command_line.end());
    const std::wstring program = L"Z:\\bin\\" + wide.substr(0, wide.find(L' '));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), wide.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return done();
}

inline std::string unix_name_under_wine(const std::filesystem::path& path) {
    using UnixName = char*(CDECL*)(LPCWSTR);
    const auto unix_name = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    const char* name = unix_name ? unix_name(path.c_str()) : nullptr;
    return name ? name : "";
}
#endif

// A link to the folder `target` at `link` for as long as this lives.
class FolderLink {
public:
    FolderLink(const std::filesystem::path& link, const std::filesystem::path& target) : link_(link) {
#ifdef _WIN32
        // Wine's CreateSymbolicLinkW reports success and makes nothing.
        made_ = CreateSymbolicLinkW(link.c_str(), target.c_str(),
                                    SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
                shows_as_link(link);
        const std::string unix_target = unix_name_under_wine(target);
        const std::string unix_folder = unix_name_under_wine(link.parent_path());
        if (!made_ && !unix_target.empty() && !unix_folder.empty()) {
            // Wine hands the Unix program its arguments split by the Windows rules.
            unix_link_ = unix_folder + "/" + link.filename().string();
            made_ = run_unix_under_wine("ln -s \"" + unix_target + "\" \"" + unix_link_ + "\"",
                                        [&] { return shows_as_link(link); });
        }
#else
        std::error_code ec;
        std::filesystem::create_directory_symlink(target, link, ec);
        made_ = !ec;
#endif
    }
    FolderLink(const FolderLink&) = delete;
    FolderLink& operator=(const FolderLink&) = delete;
    // Only the link goes, whatever the code under test left there.
    ~FolderLink() {
#ifdef _WIN32
        if (unix_link_.empty()) {
            RemoveDirectoryW(link_.c_str());
        } else {
            (void)run_unix_under_wine("rm -f \"" + unix_link_ + "\"",
                                      [&] { return GetFileAttributesW(link_.c_str()) == INVALID_FILE_ATTRIBUTES; });
        }
#else
        std::error_code ec;
        if (std::filesystem::is_symlink(link_, ec)) std::filesystem::remove(link_, ec);
#endif
    }

    // False when no link could be made here.
    bool made() const { return made_; }

private:
    std::filesystem::path link_;
    bool made_ = false;
#ifdef _WIN32
    std::string unix_link_;  // made by Wine's host, which alone can remove it
#endif
};

}  // namespace tarvo::testing
