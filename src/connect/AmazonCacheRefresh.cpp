// Refresh of the framework's region (data-centre) and zone (host) caches.
#include "bridge/AmazonSDKBridge.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"

int CAmazonInfo::_RefreshDCInfoCache(ULONGLONG flags, int option) {
    EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2, "Start >>>");
    if (m_pSourceBridge->RefreshDCInfoList(flags, option) >= 0) {
        m_pSourceBridge->GetDCInfoList(m_dcCache);
        return 1;
    }
    EvDebug::Error(__PRETTY_FUNCTION__, "_RefreshDCInfoCache failed!! err=[%s]",
                   m_pSourceBridge->GetLastErrorString().c_str());
    Disconnect();
    return 0;
}

int CAmazonInfo::_RefreshHostInfoCache(ULONGLONG flags, int option) {
    if (!IsNewHostDiscoveryReq()) return 1;
    if (GetInstanceType() != kAmazonInstanceType) {
        EvDebug::Error(__PRETTY_FUNCTION__, "_RefreshHostInfoCache called with wrong InstType!!!=[0x%x]",
                       static_cast<unsigned>(GetInstanceType()));
    } else if (m_pSourceBridge->RefreshHostInfoList(flags, option) >= 0) {
        m_pSourceBridge->GetHostInfoList(m_hostCache);
        return CVMInfo::_RefreshHostInfoCache(flags, option);
    }
    EvDebug::Error(__PRETTY_FUNCTION__, "RefreshHostInfoList failed!! err=[%s]",
                   m_pSourceBridge->GetLastErrorString().c_str());
    Disconnect();
    return 0;
}
