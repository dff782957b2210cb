#pragma once
// The bridges a plug-in object's disk reads go through. A bridge serves one
// thread at a time, so the reader threads do not share the job thread's.
#include <memory>
#include <mutex>

class CAmazonSDKBridge;

namespace AmazonDisk {
struct ReadBridges {
    // Guards readBridge, and the set-up of the direct client (and with it
    // directAccessBridge) on the reader threads' paths.
    std::mutex lock;
    // Block reads and snapshot access through the bridge: its own connection
    // to the source account, made on first use; null when it cannot connect.
    std::unique_ptr<CAmazonSDKBridge> readBridge;  // guarded by lock
    // The direct client's own bridge: it refreshes assumed roles on reader
    // threads.
    std::unique_ptr<CAmazonSDKBridge> directAccessBridge;
};
}  // namespace AmazonDisk
