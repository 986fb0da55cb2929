// The program-data folder of an elevated program: it holds what the program
// loads and runs, so only administrators may change what is in it, and
// nothing in it is written, loaded or run through a link.
//
// Windows: owner Administrators; a protected DACL (no inherited entries) of
// SYSTEM and Administrators full control, Users read and execute. POSIX: owned
// by this process's user, mode 0755. "Link" is a junction or symbolic link on
// Windows, a symbolic link on POSIX.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/os_error.h"
#include "util/expected.h"

namespace tarvo::platform {

enum class FolderSecurity {
    made,       // it did not exist and was created admin-only
    kept,       // it existed and was admin-only already
    resecured,  // it existed with another owner or rules and was brought to admin-only:
                // whatever anyone could put in it meanwhile is still there
};

// Makes `folder` (missing parents with default rules) admin-only. A link in
// its place is removed, never followed, and a real folder made.
Expected<FolderSecurity, OsError> make_admin_only_folder(const std::filesystem::path& folder);

struct FolderEntry {
    enum class Kind {
        file,    // a regular file with no other name (no hard link)
        folder,  // a real folder
        other,   // a link, a hard-linked file, a device, ...
    };
    std::filesystem::path name;
    Kind kind = Kind::other;
};

// What `folder` holds, links reported as links (never followed).
Expected<std::vector<FolderEntry>, OsError> list_folder_entries(const std::filesystem::path& folder);

// Removes the entry and, for a real folder, everything in it; a link is
// removed itself, never what it points to.
Status<OsError> remove_entry(const std::filesystem::path& path);

// Gives a regular file or real folder the admin-only owner and rules.
Status<OsError> make_admin_only_entry(const std::filesystem::path& path);

enum class FileWrite { unchanged, written };

// Leaves `file` alone when it is a regular file of its own (no hard link)
// holding exactly `bytes`; otherwise removes what holds its name (a link
// itself, an empty folder, another file) and writes `bytes` to a new file.
// Neither the file nor its folder is followed when it is a link. An error
// when the name cannot be freed (a file in use, a folder with something in
// it) or written. `executable`: POSIX run bits; Windows needs none.
Expected<FileWrite, OsError> write_file_if_differs(const std::filesystem::path& file, std::string_view bytes,
                                                  bool executable);

// An open file that cannot be changed, moved or deleted (Windows) while this
// lives; POSIX has no such lock, so there it rests on the folder's rules and
// loads go through the open file itself.
class HeldFile {
public:
    HeldFile() = default;
    explicit HeldFile(std::intptr_t native) : native_(native) {}
    HeldFile(HeldFile&& other) noexcept : native_(std::exchange(other.native_, -1)) {}
    HeldFile& operator=(HeldFile&& other) noexcept {
        std::swap(native_, other.native_);
        return *this;
    }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;
    ~HeldFile();

    std::intptr_t native() const { return native_; }  // a file descriptor or a HANDLE

private:
    std::intptr_t native_ = -1;
};

// Opens `file` for loading or running, when it is a regular file of its own
// (no link, no hard link) whose content is exactly `bytes`, and holds it.
// A link is an error ("stopped on a link"), and so is other content.
Expected<HeldFile, OsError> hold_file_with_content(const std::filesystem::path& file, std::string_view bytes);

}  // namespace tarvo::platform
