// Running a Linux tool from a stand-in, its output going straight to the
// stand-in's own (which the client captures).
#pragma once

#include <string>
#include <vector>

namespace tarvo::standins {

// Runs `argv` (argv[0] looked up on PATH) and waits for it: its exit code,
// 127 when it cannot be started, 128 when it did not exit by itself.
int run_program(std::vector<std::string> argv);

}  // namespace tarvo::standins
