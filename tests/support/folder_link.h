// Makes a link to a folder, as someone planting one would: a symbolic link on
// POSIX; on Windows a directory symbolic link, or under Wine (which makes
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

inline bool make_folder_link_under_wine(const std::filesystem::path& link, const std::filesystem::path& target) {
    using UnixName = char*(CDECL*)(LPCWSTR);
    const auto unix_name = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!unix_name) return false;
    char* unix_target = unix_name(target.c_str());
    char* unix_folder = unix_name(link.parent_path().c_str());
    if (!unix_target || !unix_folder) return false;
    // Wine hands the Unix program its arguments split by the Windows rules.
    const std::string command = std::string("ln -s \"") + unix_target + "\" \"" + unix_folder + "/" +
                                link.filename().string() + "\"";
    std::wstring wide(command.begin(), command.end());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(L"Z:\\bin\\ln", wide.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    // Wine starts a Unix program without a handle to wait on: wait for the link.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!shows_as_link(link) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return shows_as_link(link);
}
#endif

// True when `link` now is a link to the folder `target`.
inline bool make_folder_link(const std::filesystem::path& link, const std::filesystem::path& target) {
#ifdef _WIN32
    // Wine's CreateSymbolicLinkW reports success and makes nothing.
    if (CreateSymbolicLinkW(link.c_str(), target.c_str(),
                            SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
        shows_as_link(link))
        return true;
    return make_folder_link_under_wine(link, target);
#else
    std::error_code ec;
    std::filesystem::create_directory_symlink(target, link, ec);
    return !ec;
#endif
}

}  // namespace tarvo::testing
