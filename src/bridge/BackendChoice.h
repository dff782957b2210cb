#pragma once
// Private to the bridge: which backend a new bridge object gets. The setting
// Bridge/sBackend names it: empty or "cloudsim" the simulated cloud (the
// default, so the demo and the tests run without an account), "aws" AWS over
// its wire protocols. Any other value gives a backend that refuses every
// operation with a text naming the setting, so a typing error cannot pass
// for either cloud.
#include <memory>

#include "bridge/BridgeBackend.h"

namespace bridgeimpl BRIDGE_INTERNAL {

std::unique_ptr<Backend> MakeBackend();

}  // namespace bridgeimpl
