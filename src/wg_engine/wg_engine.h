// The WireGuard-NT engine as the shared state holds it. Not brought up yet:
// it holds only its adapter name, so closing has nothing to undo.
#pragma once

#include <string>

namespace tarvo {

struct WgEngine {
    std::string adapter_name = "tarvo-client";
    void* adapter = nullptr;  // no adapter handle until a bring-up
};

// Sets a held adapter down and closes it.
void close_wg_engine(WgEngine& engine);

}  // namespace tarvo
