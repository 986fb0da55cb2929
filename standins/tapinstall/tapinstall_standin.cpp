// The TAP installer stand-in: records its call (the same log as the Windows
// tool stand-ins) and reports success.
#include <string>
#include <vector>

#include "call_log.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    tarvo::standins::record_call("tapinstall.exe", args);
    return 0;
}
