#pragma once
// The one check for a run of zero bytes, shared by the plug-in (a block the
// service announces as zeros), the host's data mover (a block that becomes
// a hole in an image) and the simulated cloud (a block it stores as
// nothing). Blocks of large volumes are mostly zeros, so every block read
// passes through it: it must run at memory speed, not a byte at a time.
#include <cstddef>

#include "framework/FrameworkApi.h"

namespace FwBytes {
// True when all length bytes at data are zero; data needs no alignment.
FW_API bool IsAllZero(const void* data, size_t length);
}  // namespace FwBytes
