// Refresh of the framework's region (data-centre) and zone (host) caches.
#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"

int CAmazonInfo::_RefreshDCInfoCache(ULONGLONG flags, int option) {
    EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2, "Start >>>");
    if (AmazonCommon::BridgeCall(
            *m_pSourceBridge, __PRETTY_FUNCTION__,
            [&] { return m_pSourceBridge->RefreshDCInfoList(flags, option) >= 0; },
            "_RefreshDCInfoCache failed!! err=[%s]")) {
        m_pSourceBridge->GetDCInfoList(m_dcCache);
        return 1;
    }
    Disconnect();
    return 0;
}

int CAmazonInfo::_RefreshHostInfoCache(ULONGLONG flags, int option) {
    if (!IsNewHostDiscoveryReq()) return 1;
    const bool rightType = GetInstanceType() == kAmazonInstanceType;
    if (!rightType)
        EvDebug::Error(__PRETTY_FUNCTION__, "_RefreshHostInfoCache called with wrong InstType!!!=[0x%x]",
                       static_cast<unsigned>(GetInstanceType()));
    // A wrong type is logged as a failed refresh too, with the bridge's last error.
    if (AmazonCommon::BridgeCall(
            *m_pSourceBridge, __PRETTY_FUNCTION__,
            [&] { return rightType && m_pSourceBridge->RefreshHostInfoList(flags, option) >= 0; },
            "RefreshHostInfoList failed!! err=[%s]")) {
        m_pSourceBridge->GetHostInfoList(m_hostCache);
        return CVMInfo::_RefreshHostInfoCache(flags, option);
    }
    Disconnect();
    return 0;
}
