// ping -n COUNT -w MILLISECONDS TARGET, the bring-up's handshake probe: inside
// a namespace of the project the Linux ping sends COUNT echoes, waiting that
// long for each reply, and its output ("... ttl=64 ...") and exit code are the
// stand-in's. Outside one nothing is sent and the probe goes unanswered.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarvo::standins {

// The exit code when `tool` is ping; a command line of another form fails.
std::optional<int> run_ping_command(const std::string& tool, const std::vector<std::string>& args);

// Pure parsing, for tests: the Linux ping's arguments for a Windows ping
// command line of the client's form, or nothing.
std::optional<std::vector<std::string>> linux_ping_arguments(const std::vector<std::string>& args);

}  // namespace tarvo::standins
