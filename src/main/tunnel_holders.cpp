#include "main/tunnel_holders.h"

namespace tarvo {

void close_wg_engine(WgEngine& engine) { engine.adapter = nullptr; }

void stop_l2_bridge(L2Bridge& bridge, bool) { bridge.running->store(false); }

}  // namespace tarvo
