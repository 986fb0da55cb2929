// Writing the libraries and driver files the program carries into the
// program-data folder whenever one is missing or has another size.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "util/expected.h"

namespace tarvo {

struct EmbeddedFile {
    std::filesystem::path folder;
    std::string_view name;
    std::string_view bytes;
};

// C:\ProgramData\TARVO\wireguard.dll
std::filesystem::path wireguard_dll_path();

// Creates `folders` in order ("Błąd tworzenia {folder}: {error}" on the first
// that fails, and nothing else is done), then writes each of `files` in order
// whose target is missing or of another size. Failed writes are dropped.
// A written ".exe" is made runnable.
Status<std::string> extract_embedded_files(const std::vector<std::filesystem::path>& folders,
                                           const std::vector<EmbeddedFile>& files);

// The same for the six files embedded in this program.
Status<std::string> extract_embedded_files();

}  // namespace tarvo
