// Test helper: prints its arguments (not its own name) as one JSON array.
#include <cstdio>
#include <string>
#include <vector>

#include "support/json_array.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const std::string line = tarvo::testing::json_array(args);
    std::fwrite(line.data(), 1, line.size(), stdout);
    return 0;
}
