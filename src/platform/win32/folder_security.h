// The admin-only owner and rules of the program-data folder and of what it
// keeps, and the calls that read and write them. Tests replace the calls to
// see what reaches the system: Wine keeps no owner or access rules of its own
// (it maps them onto Unix modes and reads back rules made up from those).
#pragma once

#include <windows.h>

#include <filesystem>
#include <functional>
#include <memory>

#include "platform/admin_folder.h"
#include "platform/os_error.h"
#include "util/expected.h"

namespace tarvo::platform::win32 {

struct LocalFreer {
    void operator()(void* memory) const { LocalFree(memory); }
};
// A self-relative security descriptor the system allocated.
using LocalDescriptor = std::unique_ptr<void, LocalFreer>;

// Owner Administrators; a protected DACL (nothing inherited from the parent):
// SYSTEM and Administrators full control, Users read and execute. A folder's
// entries are inherited by what is made in it.
LocalDescriptor admin_only_descriptor(bool folder);

// True when the owner is Administrators and the DACL is protected and holds
// exactly the entries of admin_only_descriptor(folder), in any order.
bool is_admin_only(PSECURITY_DESCRIPTOR descriptor, bool folder);

struct SecurityCalls {
    // A new folder made with `descriptor` (CreateDirectoryW); 0 or the error code.
    std::function<DWORD(const std::wstring& folder, PSECURITY_DESCRIPTOR descriptor)> create_folder;
    // The owner and DACL of an open object (GetSecurityInfo).
    std::function<DWORD(HANDLE object, LocalDescriptor& descriptor)> read;
    // SetSecurityInfo of `what` with `owner` and `dacl`.
    std::function<DWORD(HANDLE object, SECURITY_INFORMATION what, PSID owner, PACL dacl)> write;
    // From begin to end this thread may open, take over and remove what
    // another user made and locked (backup, restore and take-ownership
    // privileges, which administrators hold disabled). Calls nest.
    std::function<void()> begin_privileged;
    std::function<void()> end_privileged;
};

const SecurityCalls& system_security_calls();

// platform::make_admin_only_folder and platform::make_admin_only_entry over `calls`.
Expected<FolderSecurity, OsError> make_admin_only_folder(const std::filesystem::path& folder,
                                                         const SecurityCalls& calls);
Status<OsError> make_admin_only_entry(const std::filesystem::path& path, const SecurityCalls& calls);

}  // namespace tarvo::platform::win32
