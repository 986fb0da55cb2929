#include "child_program.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

extern char** environ;

namespace tarvo::standins {

int run_program(std::vector<std::string> argv) {
    if (argv.empty()) return 127;
    std::vector<char*> pointers;
    for (std::string& a : argv) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, pointers[0], nullptr, nullptr, pointers.data(), environ) != 0) return 127;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

}  // namespace tarvo::standins
