#pragma once
// Shared pieces of the disk slots: the exception guard every slot runs in,
// and the mode names they use.
#include "common/OperationGuard.h"

namespace AmazonDisk {

using AmazonGuard::Guarded;

// The block size of EBS snapshots as the EBS direct APIs read them: a disk
// read covers whole blocks.
constexpr long long kDirectReadBlockSize = 512 * 1024;

constexpr char kTransportHotAdd[] = "HOTADD";
constexpr char kTransportDirect[] = "EBS-DIRECT-API";

}  // namespace AmazonDisk
