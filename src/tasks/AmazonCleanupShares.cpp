// Withdrawing the sharing a job (or a dead job) registered: another
// account's snapshots shared with the proxy's account.
#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/RegionScope.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "tasks/AwsErrors.h"

bool CAmazonInfo::_CleanupSharedSnapshots(const std::string& path) {
    std::vector<CleanerEntity> shares;
    if (!m_cleaner.GetRegisteredItems(path, VM_CLEANER_SHARED_SNAPSHOT, shares)) return false;
    if (shares.empty()) return true;
    std::string adminAccount, error;
    if (!AdminAccountId(adminAccount, error)) return false;
    bool ok = true;
    for (const auto& share : shares) {
        bool inSource = true;
        if (!BridgeForEntry(share, true, inSource)) {
            ok = false;
            continue;
        }
        CAmazonSDKBridge* bridge = BridgeFor(inSource);
        const AmazonCommon::BridgeRegionScope inRegion(*bridge, m_cleaner.RegionOf(share));
        // A snapshot that is gone is shared with nobody any more.
        if (AmazonCommon::QuietBridgeCall(*bridge, [&] { return bridge->UnshareSnapshot(share.id, adminAccount); },
                                          error) ||
            IsAwsNotFoundError(error)) {
            m_cleaner.UnRegisterSharedSnapshot(path, share.id);
            EvDebug::Debug(__PRETTY_FUNCTION__, "Successfully unshared snapshot [%s] to account [%s]",
                           share.id.c_str(), adminAccount.c_str());
            continue;
        }
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to unshare snapshot [%s] to account [%s] . Error [%s]",
                       share.id.c_str(), adminAccount.c_str(), error.c_str());
        ok = false;
    }
    return ok;
}
