// A fresh host root with the Windows tool stand-ins installed in its
// System32, and the calls they recorded there (linux build only).
#pragma once

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "call_log.h"
#include "support/host_root.h"

#ifndef TARVO_WINTOOLS_STANDIN
#error "the test build defines TARVO_WINTOOLS_STANDIN"
#endif

namespace tarvo::testing {

class StandinHost {
public:
    StandinHost() {
        const auto system32 = root_.path() / "C" / "Windows" / "System32";
        std::filesystem::create_directories(system32);
        for (const char* tool : {"netsh", "powershell", "sc", "ping"})
            std::filesystem::create_symlink(TARVO_WINTOOLS_STANDIN, system32 / tool);
    }
    const std::filesystem::path& path() const { return root_.path(); }

    // The recorded calls, one log line each.
    std::vector<std::string> calls() const {
        std::istringstream log(read_bytes(standins::call_log_path()));
        std::vector<std::string> lines;
        for (std::string line; std::getline(log, line);) lines.push_back(line + "\n");
        return lines;
    }

private:
    ScopedHostRoot root_;
};

inline std::string call(const std::string& tool, const std::vector<std::string>& args) {
    return standins::call_log_line(tool, args);
}

}  // namespace tarvo::testing
