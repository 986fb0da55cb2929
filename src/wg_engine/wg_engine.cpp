#include "wg_engine/wg_engine.h"

namespace tarvo {

void close_wg_engine(WgEngine& engine) { engine.adapter = nullptr; }

}  // namespace tarvo
