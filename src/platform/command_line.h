// The process's own arguments, split by the rules of this platform (on
// Windows: the standard splitting of the process command line).
#pragma once

#include <string>
#include <vector>

namespace tarvo::platform {

// UTF-8 arguments, the program's own name first.
std::vector<std::string> process_arguments(int argc, char** argv);

}  // namespace tarvo::platform
