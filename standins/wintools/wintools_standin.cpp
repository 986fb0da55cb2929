// One program standing in for netsh, powershell, sc and ping: installed under
// each name into the host's Windows\System32, it records its call, gives the
// client's command lines their Linux effects, and fails on any other line.
#include <string>
#include <vector>

#include "call_log.h"
#include "command_forms.h"
#include "gateway_command.h"
#include "ping_command.h"
#include "tap_commands.h"
#include "wg_commands.h"

int main(int argc, char** argv) {
    using namespace tarvo::standins;
    std::string tool = argc > 0 ? argv[0] : "";
    if (const auto slash = tool.rfind('/'); slash != std::string::npos) tool.erase(0, slash + 1);
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    record_call(tool, args);
    // Each family of command lines: the exit code when the line is one of its own.
    for (const auto handler : {run_wg_command, run_tap_command, run_gateway_command, run_ping_command})
        if (const auto code = handler(tool, args)) return *code;
    return answer_unhandled_command_line(tool, args);
}
