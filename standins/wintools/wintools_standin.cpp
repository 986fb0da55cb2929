// One program standing in for netsh, powershell, sc and ping: installed under
// each name into the host's Windows\System32, it records its call and exits 0.
#include <string>
#include <vector>

#include "call_log.h"
#include "tap_commands.h"
#include "wg_commands.h"

int main(int argc, char** argv) {
    std::string tool = argc > 0 ? argv[0] : "";
    if (const auto slash = tool.rfind('/'); slash != std::string::npos) tool.erase(0, slash + 1);
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    tarvo::standins::record_call(tool, args);
    if (const auto code = tarvo::standins::run_wg_command(tool, args)) return *code;
    if (const auto code = tarvo::standins::run_tap_command(tool, args)) return *code;
    return 0;
}
