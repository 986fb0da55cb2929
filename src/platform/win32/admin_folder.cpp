// The admin-only folder on Windows. Every file and folder is opened with
// FILE_FLAG_OPEN_REPARSE_POINT, so a junction or symbolic link is seen as
// itself, and checked through that handle; a handle held without
// FILE_SHARE_DELETE keeps its name from being moved or replaced meanwhile.
// The path's own attributes are read too: Wine shows a linked folder as a
// reparse point there, never through the handle.
#include "platform/admin_folder.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "platform/files.h"
#include "platform/win32/folder_security.h"
#include "platform/win32/owned_handle.h"

namespace tarvo::platform {

namespace {

using win32::OwnedHandle;
using win32::SecurityCalls;

// Error codes of the system that MinGW's headers lack.
constexpr int kErrorInvalidImageHash = 577;  // ERROR_INVALID_IMAGE_HASH
constexpr int kErrorStoppedOnSymlink = 681;  // ERROR_STOPPED_ON_SYMLINK

constexpr DWORD kOpenItself = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
constexpr DWORD kShareButDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A file that is not the one the program carries.
OsError other_content_error() { return os_error(kErrorInvalidImageHash); }

OwnedHandle open_itself(const std::filesystem::path& path, DWORD access, DWORD share, DWORD flags = kOpenItself) {
    HANDLE handle = CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr);
    return OwnedHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

struct Identity {
    bool link = false;
    bool folder = false;
    DWORD links = 0;
    ULONGLONG size = 0;
    DWORD attributes = 0;
};

Expected<Identity, OsError> identity_of(HANDLE handle, const std::filesystem::path& path) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) return unexpected(last_os_error());
    const DWORD by_path = GetFileAttributesW(path.c_str());
    const bool path_link = by_path != INVALID_FILE_ATTRIBUTES && (by_path & FILE_ATTRIBUTE_REPARSE_POINT);
    return Identity{(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || path_link,
                    (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0, info.nNumberOfLinks,
                    (ULONGLONG(info.nFileSizeHigh) << 32) | info.nFileSizeLow, info.dwFileAttributes};
}

// Checks that `folder` is a real folder and holds it in place.
Expected<OwnedHandle, OsError> pin_folder(const std::filesystem::path& folder) {
    OwnedHandle pin = open_itself(folder, FILE_READ_ATTRIBUTES, kShareButDelete);
    if (!pin.get()) return unexpected(last_os_error());
    const auto identity = identity_of(pin.get(), folder);
    if (!identity) return unexpected(identity.error());
    if (identity->link) return unexpected(os_error(kErrorStoppedOnSymlink));
    if (!identity->folder) return unexpected(os_error(ERROR_DIRECTORY));
    return pin;
}

class Privileged {
public:
    explicit Privileged(const SecurityCalls& calls) : calls_(calls) { calls_.begin_privileged(); }
    ~Privileged() { calls_.end_privileged(); }
    Privileged(const Privileged&) = delete;
    Privileged& operator=(const Privileged&) = delete;

private:
    const SecurityCalls& calls_;
};

// Deletes what `handle` (opened with DELETE and FILE_WRITE_ATTRIBUTES) is,
// once it is closed: a link itself, never its target.
Status<OsError> delete_on_close(HANDLE handle, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        FILE_BASIC_INFO basic{};
        basic.FileAttributes = (attributes & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_NORMAL;
        (void)SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic);
    }
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition))
        return unexpected(last_os_error());
    return Unit{};
}

template <class Visit>
Status<OsError> for_each_entry(const std::filesystem::path& folder, Visit visit) {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileExW((folder / L"*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                     nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return unexpected(last_os_error());
    do {
        if (std::wcscmp(found.cFileName, L".") == 0 || std::wcscmp(found.cFileName, L"..") == 0) continue;
        visit(std::filesystem::path(found.cFileName), found.dwFileAttributes);
    } while (FindNextFileW(search, &found));
    const DWORD error = GetLastError();
    FindClose(search);
    if (error != ERROR_NO_MORE_FILES) return unexpected(os_error(static_cast<int>(error)));
    return Unit{};
}

Status<OsError> remove_tree(const std::filesystem::path& path) {
    Status<OsError> result = Unit{};
    {
        // Held while what is in it goes, so that it stays this folder; its
        // listing must be opened beside it, hence no DELETE access yet.
        OwnedHandle pin = open_itself(path, FILE_READ_ATTRIBUTES, kShareButDelete);
        if (!pin.get()) return unexpected(last_os_error());
        const auto identity = identity_of(pin.get(), path);
        if (!identity) return unexpected(identity.error());
        if (identity->folder && !identity->link) {
            const auto listed = for_each_entry(path, [&](const std::filesystem::path& name, DWORD) {
                if (auto removed = remove_tree(path / name); !removed && result) result = removed;
            });
            if (!listed && result) result = listed;
        }
    }
    if (!result) return result;
    OwnedHandle handle =
        open_itself(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE, kShareButDelete);
    if (!handle.get()) return unexpected(last_os_error());
    const auto identity = identity_of(handle.get(), path);
    if (!identity) return unexpected(identity.error());
    return delete_on_close(handle.get(), identity->attributes);
}

bool is_missing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// An existing object brought to the admin-only owner and rules; true when
// they had to change.
Expected<bool, OsError> secure_existing(const std::filesystem::path& path, bool folder,
                                        const SecurityCalls& calls) {
    // Pinned, so that what is checked here is what gets its rules.
    OwnedHandle pin = open_itself(path, FILE_READ_ATTRIBUTES, kShareButDelete);
    if (!pin.get()) {
        // Locked against administrators by whoever made it.
        Privileged privileged(calls);
        pin = open_itself(path, FILE_READ_ATTRIBUTES, kShareButDelete);
        if (!pin.get()) return unexpected(last_os_error());
    }
    const auto identity = identity_of(pin.get(), path);
    if (!identity) return unexpected(identity.error());
    if (identity->link) return unexpected(os_error(kErrorStoppedOnSymlink));
    if (identity->folder != folder) return unexpected(os_error(folder ? ERROR_DIRECTORY : ERROR_ACCESS_DENIED));

    if (OwnedHandle reader = open_itself(path, READ_CONTROL, kShareAll); reader.get()) {
        win32::LocalDescriptor now;
        if (calls.read(reader.get(), now) == ERROR_SUCCESS && win32::is_admin_only(now.get(), folder)) return false;
    }
    Privileged privileged(calls);
    OwnedHandle writer = open_itself(path, READ_CONTROL | WRITE_DAC | WRITE_OWNER, kShareAll);
    if (!writer.get()) return unexpected(last_os_error());
    const win32::LocalDescriptor wanted = win32::admin_only_descriptor(folder);
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    if (!wanted || !GetSecurityDescriptorOwner(wanted.get(), &owner, &defaulted) ||
        !GetSecurityDescriptorDacl(wanted.get(), &present, &dacl, &defaulted))
        return unexpected(last_os_error());
    const DWORD written =
        calls.write(writer.get(),
                    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                    owner, dacl);
    if (written != ERROR_SUCCESS) return unexpected(os_error(static_cast<int>(written)));
    return true;
}

Expected<bool, OsError> has_content(HANDLE file, std::string_view bytes) {
    char buffer[64 * 1024];
    std::size_t at = 0;
    while (true) {
        DWORD read = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &read, nullptr)) return unexpected(last_os_error());
        if (read == 0) return at == bytes.size();
        if (at + read > bytes.size() || std::memcmp(buffer, bytes.data() + at, read) != 0) return false;
        at += read;
    }
}

Status<OsError> write_new_file(const std::filesystem::path& file, std::string_view bytes) {
    HANDLE raw = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (raw == INVALID_HANDLE_VALUE) return unexpected(last_os_error());
    OwnedHandle handle(raw);
    Status<OsError> result = Unit{};
    while (!bytes.empty() && result) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
        DWORD written = 0;
        if (!WriteFile(handle.get(), bytes.data(), chunk, &written, nullptr) || written == 0)
            result = unexpected(last_os_error());
        bytes.remove_prefix(written);
    }
    handle.close();
    if (!result) DeleteFileW(file.c_str());
    return result;
}

}  // namespace

namespace win32 {

LocalDescriptor admin_only_descriptor(bool folder) {
    const wchar_t* text = folder ? L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
                                 : L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, &descriptor, nullptr))
        return nullptr;
    return LocalDescriptor(descriptor);
}

bool is_admin_only(PSECURITY_DESCRIPTOR descriptor, bool folder) {
    const LocalDescriptor wanted = admin_only_descriptor(folder);
    if (!descriptor || !wanted) return false;
    PSID owner = nullptr, wanted_owner = nullptr;
    PACL dacl = nullptr, wanted_dacl = nullptr;
    BOOL defaulted = FALSE, present = FALSE, wanted_present = FALSE;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !owner ||
        !GetSecurityDescriptorOwner(wanted.get(), &wanted_owner, &defaulted) || !EqualSid(owner, wanted_owner))
        return false;
    if (!GetSecurityDescriptorControl(descriptor, &control, &revision) || !(control & SE_DACL_PROTECTED))
        return false;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || !dacl ||
        !GetSecurityDescriptorDacl(wanted.get(), &wanted_present, &wanted_dacl, &defaulted))
        return false;
    if (dacl->AceCount != wanted_dacl->AceCount) return false;
    const auto same = [](const ACCESS_ALLOWED_ACE* a, const ACCESS_ALLOWED_ACE* b) {
        return a->Header.AceType == b->Header.AceType && a->Header.AceFlags == b->Header.AceFlags &&
               a->Mask == b->Mask &&
               EqualSid(const_cast<DWORD*>(&a->SidStart), const_cast<DWORD*>(&b->SidStart));
    };
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) return false;
        const auto* entry = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        if (entry->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
        bool found = false;
        for (DWORD j = 0; j < wanted_dacl->AceCount && !found; ++j) {
            void* other = nullptr;
            found = GetAce(wanted_dacl, j, &other) && same(entry, static_cast<const ACCESS_ALLOWED_ACE*>(other));
        }
        if (!found) return false;
    }
    return true;
}

namespace {

// Backup and restore let an open ignore the rules (with backup semantics);
// take-ownership lets the owner be set.
void enable_thread_privileges() {
    if (!ImpersonateSelf(SecurityImpersonation)) return;
    HANDLE token = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, FALSE, &token)) return;
    for (const wchar_t* name : {SE_BACKUP_NAME, SE_RESTORE_NAME, SE_TAKE_OWNERSHIP_NAME}) {
        TOKEN_PRIVILEGES privileges{1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
        if (LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid))
            AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    }
    CloseHandle(token);
}

thread_local int privileged_depth = 0;

}  // namespace

const SecurityCalls& system_security_calls() {
    static const SecurityCalls calls{
        [](const std::wstring& folder, PSECURITY_DESCRIPTOR descriptor) -> DWORD {
            SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
            return CreateDirectoryW(folder.c_str(), &attributes) ? ERROR_SUCCESS : GetLastError();
        },
        [](HANDLE object, LocalDescriptor& descriptor) -> DWORD {
            PSECURITY_DESCRIPTOR read = nullptr;
            const DWORD error =
                GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, nullptr, nullptr, &read);
            descriptor.reset(read);
            return error;
        },
        [](HANDLE object, SECURITY_INFORMATION what, PSID owner, PACL dacl) -> DWORD {
            return SetSecurityInfo(object, SE_FILE_OBJECT, what, owner, nullptr, dacl, nullptr);
        },
        [] {
            if (privileged_depth++ == 0) enable_thread_privileges();
        },
        [] {
            if (--privileged_depth == 0) RevertToSelf();
        },
    };
    return calls;
}

Expected<FolderSecurity, OsError> make_admin_only_folder(const std::filesystem::path& folder,
                                                         const SecurityCalls& calls) {
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (!is_missing(GetLastError())) return unexpected(last_os_error());
    } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        Privileged privileged(calls);
        if (auto removed = remove_tree(folder); !removed) return unexpected(std::move(removed).error());
    } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return unexpected(os_error(ERROR_ALREADY_EXISTS));
    } else {
        const auto changed = secure_existing(folder, true, calls);
        if (!changed) return unexpected(changed.error());
        return *changed ? FolderSecurity::resecured : FolderSecurity::kept;
    }
    // Missing: the parents with their own rules, the folder admin-only from
    // its first moment.
    const std::filesystem::path parent = folder.parent_path();
    if (!parent.empty() && parent != folder) {
        if (auto parents = platform::create_directories(parent); !parents)
            return unexpected(std::move(parents).error());
    }
    const LocalDescriptor descriptor = admin_only_descriptor(true);
    if (!descriptor) return unexpected(last_os_error());
    const DWORD made = calls.create_folder(folder.native(), descriptor.get());
    if (made == ERROR_ALREADY_EXISTS) {
        // Someone made it first: then it is an existing folder like any other.
        const auto changed = secure_existing(folder, true, calls);
        if (!changed) return unexpected(changed.error());
        return *changed ? FolderSecurity::resecured : FolderSecurity::kept;
    }
    if (made != ERROR_SUCCESS) return unexpected(os_error(static_cast<int>(made)));
    return FolderSecurity::made;
}

Status<OsError> make_admin_only_entry(const std::filesystem::path& path, const SecurityCalls& calls) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return unexpected(last_os_error());
    const auto changed = secure_existing(path, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0, calls);
    if (!changed) return unexpected(changed.error());
    return Unit{};
}

}  // namespace win32

Expected<FolderSecurity, OsError> make_admin_only_folder(const std::filesystem::path& folder) {
    return win32::make_admin_only_folder(folder, win32::system_security_calls());
}

Status<OsError> make_admin_only_entry(const std::filesystem::path& path) {
    return win32::make_admin_only_entry(path, win32::system_security_calls());
}

Expected<std::vector<FolderEntry>, OsError> list_folder_entries(const std::filesystem::path& folder) {
    std::vector<FolderEntry> entries;
    const auto listed = for_each_entry(folder, [&](const std::filesystem::path& name, DWORD attributes) {
        FolderEntry::Kind kind = FolderEntry::Kind::other;
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            kind = FolderEntry::Kind::other;
        } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            kind = FolderEntry::Kind::folder;
        } else if (OwnedHandle file = open_itself(folder / name, FILE_READ_ATTRIBUTES, kShareAll); file.get()) {
            const auto identity = identity_of(file.get(), folder / name);
            if (identity && !identity->link && !identity->folder && identity->links == 1)
                kind = FolderEntry::Kind::file;
        }
        entries.push_back({name, kind});
    });
    if (!listed) return unexpected(listed.error());
    return entries;
}

Status<OsError> remove_entry(const std::filesystem::path& path) {
    Privileged privileged(win32::system_security_calls());
    return remove_tree(path);
}

Expected<FileWrite, OsError> write_file_if_differs(const std::filesystem::path& file, std::string_view bytes,
                                                  bool) {
    const auto folder = pin_folder(file.parent_path());
    if (!folder) return unexpected(folder.error());
    {
        OwnedHandle existing =
            open_itself(file, GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ);
        if (!existing.get()) {
            if (!is_missing(GetLastError())) return unexpected(last_os_error());
        } else {
            const auto identity = identity_of(existing.get(), file);
            if (!identity) return unexpected(identity.error());
            if (!identity->link && !identity->folder && identity->links == 1 && identity->size == bytes.size()) {
                const auto same = has_content(existing.get(), bytes);
                if (!same) return unexpected(same.error());
                if (*same) return FileWrite::unchanged;
            }
            // In use (a loaded library, a running program) it refuses here.
            if (auto deleted = delete_on_close(existing.get(), identity->attributes); !deleted)
                return unexpected(std::move(deleted).error());
        }
    }
    if (auto written = write_new_file(file, bytes); !written) return unexpected(std::move(written).error());
    return FileWrite::written;
}

HeldFile::~HeldFile() {
    if (native_ != -1 && native_ != 0) CloseHandle(reinterpret_cast<HANDLE>(native_));
}

Expected<HeldFile, OsError> hold_file_with_content(const std::filesystem::path& file, std::string_view bytes) {
    const auto folder = pin_folder(file.parent_path());
    if (!folder) return unexpected(folder.error());
    // Shared for reading only: nobody writes, renames or deletes it while held;
    // loading and running it (which read) still may.
    OwnedHandle handle = open_itself(file, GENERIC_READ, FILE_SHARE_READ, FILE_FLAG_OPEN_REPARSE_POINT);
    if (!handle.get()) return unexpected(last_os_error());
    const auto identity = identity_of(handle.get(), file);
    if (!identity) return unexpected(identity.error());
    if (identity->link) return unexpected(os_error(kErrorStoppedOnSymlink));
    if (identity->links != 1 || identity->size != bytes.size()) return unexpected(other_content_error());
    const auto same = has_content(handle.get(), bytes);
    if (!same) return unexpected(same.error());
    if (!*same) return unexpected(other_content_error());
    return HeldFile(reinterpret_cast<std::intptr_t>(handle.release()));
}

}  // namespace tarvo::platform
