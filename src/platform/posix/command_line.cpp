#include "platform/command_line.h"

namespace tarvo::platform {

// POSIX hands the arguments over already split; they are taken as given.
std::vector<std::string> process_arguments(int argc, char** argv) {
    std::vector<std::string> args;
    args.reserve(static_cast<std::size_t>(argc > 0 ? argc : 0));
    for (int i = 0; i < argc; ++i) args.emplace_back(argv[i]);
    return args;
}

}  // namespace tarvo::platform
