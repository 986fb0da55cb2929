#include "drivers/embedded_files.h"

#include <cstdlib>
#include <fstream>

#include "drivers/embedded_assets.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace tarvo {

namespace {

std::filesystem::path program_data_folder() { return platform::host_path("C:\\ProgramData\\TARVO"); }
std::filesystem::path driver_folder() { return platform::host_path("C:\\ProgramData\\TARVO\\driver"); }

bool has_size(const std::filesystem::path& target, std::size_t size) {
    std::error_code ec;
    const auto actual = std::filesystem::file_size(target, ec);  // follows links
    return !ec && actual == size;
}

void write_file(const std::filesystem::path& target, std::string_view bytes) {
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (!out) return;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (out && target.extension() == ".exe") (void)platform::make_executable(target);
}

std::string_view embedded(std::string_view name) {
    auto bytes = assets::find(name);
    if (!bytes) std::abort();  // every build embeds all six files
    return *bytes;
}

}  // namespace

std::filesystem::path wireguard_dll_path() { return program_data_folder() / "wireguard.dll"; }

Status<std::string> extract_embedded_files(const std::vector<std::filesystem::path>& folders,
                                           const std::vector<EmbeddedFile>& files) {
    for (const auto& folder : folders) {
        if (auto made = platform::create_directories(folder); !made)
            return unexpected("Błąd tworzenia " + platform::path_text(folder) + ": " +
                              platform::describe(made.error()));
    }
    for (const auto& file : files) {
        const auto target = file.folder / std::string(file.name);
        if (has_size(target, file.bytes.size())) continue;
        write_file(target, file.bytes);
    }
    return Unit{};
}

Status<std::string> extract_embedded_files() {
    const auto data = program_data_folder();
    const auto driver = driver_folder();
    return extract_embedded_files({data, driver}, {
                                                      {data, "wireguard.dll", embedded("wireguard.dll")},
                                                      {data, "wintun.dll", embedded("wintun.dll")},
                                                      {driver, "tapinstall.exe", embedded("tapinstall.exe")},
                                                      {driver, "OemVista.inf", embedded("OemVista.inf")},
                                                      {driver, "tap0901.cat", embedded("tap0901.cat")},
                                                      {driver, "tap0901.sys", embedded("tap0901.sys")},
                                                  });
}

}  // namespace tarvo
