// Stand-ins change the network only inside a namespace the project created for
// them: TARVO_NETNS names it, and the calling process must really be in it.
// Anywhere else (the developer's own machine namespace) they record the call,
// say that they changed nothing, and succeed.
#pragma once

#include <string>

namespace tarvo::standins {

// True when $TARVO_NETNS is set and the calling thread's network namespace
// is /run/netns/$TARVO_NETNS (same device and inode).
bool may_change_network();

// The one line a stand-in prints on standard error when it leaves the network
// alone, e.g. "netsh: not in a namespace of the project (TARVO_NETNS), nothing changed".
std::string network_left_alone_note(const std::string& tool);

}  // namespace tarvo::standins
