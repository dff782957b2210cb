#pragma once
// Shared pieces of the disk slots: the exception guard every slot runs in,
// and the codes and mode names they use.
#include "factory/OperationGuard.h"
#include "records/VMInfoStructs.h"

namespace AmazonDisk {

using AmazonGuard::Guarded;

// Error code of a disk slot that found no handle, disk or VM record.
constexpr EVMInfoError kErrDiskHandle = 23;

// The block size of EBS snapshots as the EBS direct APIs read them: a disk
// read covers whole blocks.
constexpr long long kDirectReadBlockSize = 512 * 1024;

constexpr char kTransportHotAdd[] = "HOTADD";
constexpr char kTransportDirect[] = "EBS-DIRECT-API";

}  // namespace AmazonDisk
