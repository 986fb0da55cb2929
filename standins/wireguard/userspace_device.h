// A wireguard-go interface in the calling thread's network namespace: its
// process, its UAPI socket and its link.
#pragma once

#include <sys/types.h>

#include <string>

#include "util/expected.h"

namespace tarvo::standins {

std::string uapi_socket_path(const std::string& name);

// One UAPI operation: sends `request` (ending in a blank line) and returns the
// answer up to and including its blank line.
Expected<std::string, std::string> uapi_exchange(const std::string& name, const std::string& request);

// Whether a wireguard-go of that name answers on its socket.
bool uapi_answers(const std::string& name);

// Starts `wireguard-go name` in the foreground and waits until its socket
// answers and its link exists. Returns the process id.
Expected<pid_t, std::string> start_wireguard_go(const std::string& name);

// Makes a wireguard-go of that name that this process did not start (a
// crashed run's) go away: removing its socket ends it. Waits for the link.
void end_foreign_wireguard_go(const std::string& name);

// SIGTERM, then waits for the process and until the link is gone.
void stop_wireguard_go(pid_t pid, const std::string& name);

// Sets the link up or down.
Expected<Unit, std::string> set_link_up(const std::string& name, bool up);

}  // namespace tarvo::standins
