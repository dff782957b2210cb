// Helpers created on first use and kept until the object is destroyed.
#include <new>

#include "bridge/AmazonSDKBridge.h"
#include "common/ErrorCodes.h"
#include "disk/AmazonDiskInfo.h"
#include "ebsdirect/AmazonDirectSnapshotAccessAPIWrapper.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"

// The registry attaches volumes to the proxy: it gets the proxy's record, and
// the task utility that attaches, which must exist by then.
bool CAmazonInfo::InitDiskInfo() {
    if (m_pDiskInfo) {
        if (!m_proxyVMInfo.guid.empty()) m_pDiskInfo->Initialize(m_proxyVMInfo);
        return true;
    }
    EnsureTaskUtils();
    m_pDiskInfo.reset(new (std::nothrow) CAmazonDiskInfo(m_pTaskUtils.get()));
    if (!m_pDiskInfo) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to allocate memory for AmazonDiskInfo");
        return false;
    }
    if (!m_pDiskInfo->Initialize(m_proxyVMInfo)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to initialize AmazonDiskInfo");
        // Dropped: a half-initialised registry kept here would pass as ready next time.
        m_pDiskInfo.reset();
        return false;
    }
    return true;
}

bool CAmazonInfo::ConnectDiskInfo(const SVMInfo& vm) {
    if (!InitDiskInfo()) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to initialize DiskInfo!");
        return false;
    }
    EvDebug::Debug(__PRETTY_FUNCTION__, "Connecting to VM [%s][%s] for disk access.", vm.name.c_str(),
                   vm.guid.c_str());
    if (!m_pDiskInfo->Connect(vm)) {
        SetLastVMError(AmazonErrors::kErrDiskConnectFailed);
        return false;
    }
    return true;
}

// A client whose initialisation failed stays allocated but is initialised
// again on the next call, so that a failure is never reported as success.
bool CAmazonInfo::InitializeDirectSnapshotAccessAPIWrapper() {
    if (m_pDirectSnapshotAccess && m_pDirectSnapshotAccess->IsInitialized()) return true;
    if (!m_pDirectSnapshotAccess) {
        m_pDirectSnapshotAccess.reset(
            new (std::nothrow) AmazonDirectSnapshotAccessAPI::CAmazonDirectSnapshotAccessAPIWrapper());
        if (!m_pDirectSnapshotAccess) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to create direct snapshot API wrapper object");
            return false;
        }
    }
    // Its own bridge: the client calls it from reader threads while the job
    // thread goes on with the source bridge.
    std::unique_ptr<CAmazonSDKBridge>& bridge = m_readBridges.directAccessBridge;
    if (!bridge || !bridge->IsConnected()) bridge = NewConnectedBridge();
    if (!bridge) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Direct snapshot access API wrapper has no bridge");
        return false;
    }
    if (m_pDirectSnapshotAccess->Initialize(m_strUser, m_strPassword, bridge.get())) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Direct snapshot access API wrapper initialized successfully");
        return true;
    }
    EvDebug::Error(__PRETTY_FUNCTION__, "Direct snapshot access API wrapper initialize failed");
    return false;
}
