#pragma once
// Values shared by the restore phases and the framework's replication record.

// How a replication job is to write its replica, as its replication
// properties record it.
enum AmazonReplicationMethod {
    AmazonReplicationMethodUnparsed = 0,   // the properties could not be read
    AmazonReplicationMethodNone = 1,       // nothing recorded
    AmazonReplicationMethodHotAdd = 2,
    AmazonReplicationMethodImport = 3,
};

namespace AmazonRestore {
// Disk type code of a disk restored through the proxy.
constexpr int kHotAddDiskType = 27;
// Largest volume EBS makes: 16 TiB.
constexpr unsigned long long kMaxDiskSizeBytes = 17592186044416ULL;
constexpr const char kHotAddMethod[] = "HOTADD";
// What a restore reads of the proxy's own instance: placement, type, disks.
constexpr unsigned long long kProxyInstanceMask = 8240;
}  // namespace AmazonRestore
