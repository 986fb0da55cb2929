#include "tap_l2/l2_bridge.h"

namespace tarvo {

void stop_l2_bridge(L2Bridge& bridge, bool) { bridge.running->store(false); }

}  // namespace tarvo
