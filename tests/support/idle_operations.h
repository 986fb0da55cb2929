// A ClientOperations that starts nothing, for windows and frames drawn without
// any network or tunnel work.
#pragma once

#include "main/window_actions.h"

namespace tarvo::testing {

class IdleOperations final : public ClientOperations {
public:
    void start_worker(bool) override {}
    void start_power_on(TunnelTurn::Ticket) override {}
    void start_power_off(PowerOffRequest) override {}
    void save_key(std::string&, bool& editing_key) override { editing_key = false; }
    void tear_down_on_exit() override {}
};

}  // namespace tarvo::testing
