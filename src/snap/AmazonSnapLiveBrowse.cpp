// A live browse without a proxy: nothing is attached, the snapshots are read
// through the EBS direct APIs.
#include "common/ErrorCodes.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"

int CAmazonInfo::_MountVMLiveBrowsePseudoMount(const MountCtx&) {
    if (!UseDirectSnapshotAccess() || InitializeDirectSnapshotAccessAPIWrapper()) return 1;
    const char text[] = "Failed to initialize direct snapshot access API wrapper.";
    EvDebug::Error(__PRETTY_FUNCTION__, "%s", text);
    SetLastVMError(AmazonErrors::kMountFailed, text);
    return 0;
}
