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

// A wireguard-go started by this process, as WireGuard-NT's adapter lives
// with the handle that created it: a watcher process runs it and ends it
// (SIGTERM, then SIGKILL after a bounded wait) once the lifeline's write end
// is closed, by the stop or by this process ending however it ends.
struct WireguardGo {
    pid_t watcher = -1;
    int lifeline = -1;  // the write end; held only by this process
};

// Starts `wireguard-go name` in the foreground under its watcher and waits
// until its socket answers and its link exists.
Expected<WireguardGo, std::string> start_wireguard_go(const std::string& name);

// Makes a wireguard-go of that name that this process did not start (a
// crashed run's) go away: removing its socket ends it. Waits for the link.
void end_foreign_wireguard_go(const std::string& name);

// Closes the lifeline and waits, bounded, for the watcher to end wireguard-go
// and itself, and then for the link to go.
void stop_wireguard_go(WireguardGo& process, const std::string& name);

// Sets the link up or down.
Expected<Unit, std::string> set_link_up(const std::string& name, bool up);

}  // namespace tarvo::standins
