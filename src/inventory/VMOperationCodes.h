#pragma once
// The framework's VM operation codes the plug-in acts on; every other code
// fails as not supported (242).
#include "records/VMInfoStructs.h"

namespace AmazonInventory {
constexpr EVMOperation kOpPowerOn = 1;
constexpr EVMOperation kOpPowerOff = 2;
constexpr EVMOperation kOpShutdown = 3;
constexpr EVMOperation kOpCreate = 4;
constexpr EVMOperation kOpEdit = 5;
constexpr EVMOperation kOpClone = 6;
constexpr EVMOperation kOpDelete = 7;
constexpr EVMOperation kOpCreateSnapshot = 13;
constexpr EVMOperation kOpDeleteSnapshot = 14;
constexpr EVMOperation kOpReboot = 17;
constexpr EVMOperation kOpGetPassword = 18;
}  // namespace AmazonInventory
