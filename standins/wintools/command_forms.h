// The command lines the client sends that no handler gives an effect, and the
// rule for everything else: a command line the client never sends is its
// mistake, so it fails loudly instead of passing silently.
#pragma once

#include <string>
#include <vector>

namespace tarvo::standins {

// Prints "<tool> stand-in: unknown command line: [arg]..." on standard error; 1.
int refuse_command_line(const std::string& tool, const std::vector<std::string>& args);

// The client's forms that are only recorded: the desktop shortcut, the bridge
// start's GRE firewall rule, and the TAP adapter's netsh and PowerShell lines
// (their effects live in a handler of their own).
bool is_recorded_only_form(const std::string& tool, const std::vector<std::string>& args);

// What the stand-in answers a command line that no handler took: 0 for a
// recorded-only form, otherwise refuse_command_line.
int answer_unhandled_command_line(const std::string& tool, const std::vector<std::string>& args);

}  // namespace tarvo::standins
