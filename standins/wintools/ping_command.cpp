#include "ping_command.h"

#include <cstdio>

#include "child_program.h"
#include "command_forms.h"
#include "ipv4_text.h"
#include "netns_guard.h"

namespace tarvo::standins {

namespace {

// A decimal count from 1 to `limit`, without sign or leading zero.
std::optional<unsigned long> positive_number(const std::string& text, unsigned long limit) {
    if (text.empty() || text.size() > 10 || text[0] == '0') return std::nullopt;
    unsigned long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value > limit) return std::nullopt;
    return value;
}

}  // namespace

std::optional<std::vector<std::string>> linux_ping_arguments(const std::vector<std::string>& args) {
    if (args.size() != 5 || args[0] != "-n" || args[2] != "-w") return std::nullopt;
    const auto count = positive_number(args[1], 4294967295UL);
    const auto wait_ms = positive_number(args[3], 4294967295UL);
    if (!count || !wait_ms) return std::nullopt;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%lu.%03lu", *wait_ms / 1000, *wait_ms % 1000);
    // "--" keeps a target that begins with '-' from being read as an option.
    return std::vector<std::string>{"ping", "-c", std::to_string(*count), "-W", seconds, "--", args[4]};
}

std::optional<int> run_ping_command(const std::string& tool, const std::vector<std::string>& args) {
    if (tool != "ping") return std::nullopt;
    auto linux_args = linux_ping_arguments(args);
    if (!linux_args) return refuse_command_line(tool, args);
    if (!is_dotted_quad(args[4])) {
        // The client's targets are addresses; names are not looked up here.
        std::printf("Ping request could not find host %s. Please check the name and try again.\r\n",
                    args[4].c_str());
        return 1;
    }
    if (!may_change_network()) {
        std::fprintf(stderr,
                     "ping stand-in: not in a namespace of the project (TARVO_NETNS), nothing sent\n");
        return 1;
    }
    std::fflush(stdout);
    return run_program(std::move(*linux_args));
}

}  // namespace tarvo::standins
