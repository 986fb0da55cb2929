// Writing the libraries and driver files the program carries into the
// admin-only program-data folder whenever one is missing or differs from the
// embedded copy, and opening them for loading or running only while they
// still are that copy.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/program_data_folder.h"
#include "platform/admin_folder.h"
#include "platform/library.h"
#include "util/expected.h"

namespace tarvo {

struct EmbeddedFile {
    std::filesystem::path folder;
    std::string_view name;
    std::string_view bytes;
};

// C:\ProgramData\TARVO\wireguard.dll
std::filesystem::path wireguard_dll_path();

// Secures `folders` in order (secure_own_folder: its text on the first that
// fails, and nothing else is done), then writes each of `files` in order
// whose target is missing or holds anything but its bytes, never through a
// link. A file that cannot be written (in use, say) does not stop the others;
// the first such failure is the result, "Błąd tworzenia {file}: {error}".
// A written ".exe" is made runnable.
Status<std::string> extract_embedded_files(const std::vector<OwnFolder>& folders,
                                           const std::vector<EmbeddedFile>& files);

// The same for the six files embedded in this program.
Status<std::string> extract_embedded_files();

// Opens `file` (an embedded file's target, named as that file) for loading or
// running when it holds exactly the embedded copy, and holds it so.
Expected<platform::HeldFile, platform::OsError> hold_embedded_file(const std::filesystem::path& file);

// Loads an embedded library only when its file holds the embedded copy, with
// no chance for the file to change between that check and the load.
Expected<platform::LibraryHandle, platform::OsError> load_embedded_library(const std::filesystem::path& file);

}  // namespace tarvo
