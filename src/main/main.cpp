#include <cstdio>

#include "main/start_up.h"
#include "platform/command_line.h"

int main(int argc, char** argv) {
    const auto start = tarvo::run_start_up(tarvo::platform::process_arguments(argc, argv));
    if (!start.options.no_launch) std::fputs("Tarvo Enterprise Client: the window is not built yet.\n", stderr);
    return 0;
}
