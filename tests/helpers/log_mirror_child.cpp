// Test helper: log_mirror_child <text> makes the shared state (which logs its
// first line) and logs <text> as an error, in a process of its own that reads
// its own environment: what the developer's log mirror writes is on stderr.
#include "main/app_state.h"

int main(int argc, char** argv) {
    if (argc != 2) return 100;
    auto shared = tarvo::create_shared_state({});
    tarvo::push_log_str(*shared->lock(), argv[1], tarvo::LogLevel::error);
    return 0;
}
