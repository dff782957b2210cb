#include "factory/AmazonInfo.h"

#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/BridgeSet.h"
#include "common/PluginPaths.h"
#include "disk/AmazonDiskInfo.h"
#include "ebsdirect/AmazonDirectSnapshotAccessAPIWrapper.h"
#include "framework/DiskMapper.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/KDPI.h"
#include "framework/KDPlatformInfo.h"
#include "framework/VMSnapUtil.h"
#include "tasks/AmazonTaskUtils.h"

namespace {
std::unique_ptr<CAmazonSDKBridge> DefaultBridge() { return std::make_unique<CAmazonSDKBridge>(); }
}  // namespace

CAmazonInfo::CAmazonInfo(VirtualServerInstanceType type) : CAmazonInfo(type, DefaultBridge) {}

CAmazonInfo::CAmazonInfo(VirtualServerInstanceType type, BridgeFactory bridgeFactory)
    : CVMInfo(type), m_bridgeFactory(std::move(bridgeFactory)) {
    m_pSourceBridge = NewBridge();
    m_pAdminBridge = m_pSourceBridge.get();
    m_pDiskMapper = std::make_unique<CDiskMapperLinux>();
    m_pSnapUtil = std::make_unique<CVMSnapUtil>(&m_event);
}

// The bridges go first: the helpers created later hold pointers to them but
// never call them while being destroyed.
CAmazonInfo::~CAmazonInfo() {
    m_pSourceBridge.reset();
    m_pOwnedAdminBridge.reset();
    m_pAdminBridge = nullptr;
    m_pDiskMapper.reset();
    m_pSnapUtil.reset();
    m_pTaskUtils.reset();
    m_pDirectSnapshotAccess.reset();
    m_pDiskInfo.reset();
}

std::unique_ptr<CAmazonSDKBridge> CAmazonInfo::NewBridge() {
    return m_bridgeFactory ? m_bridgeFactory() : DefaultBridge();
}

int CAmazonInfo::Init(bool hasAdminAccount) {
    SetLastVMError(0);
    m_jobId = m_event.getJobId();
    const std::string focus = KDPI_Focus::getFocus();
    const std::string app = KDPI_Focus::getAppName();
    EvDebug::Debug(__PRETTY_FUNCTION__, "AmazonInfo Focus:[%s] App:[%s] JobId:[%lld]", focus.c_str(), app.c_str(),
                   m_jobId);
    if (m_jobId == EvEvent::kNoJob) {
        EvDebug::Debug(__PRETTY_FUNCTION__,
                       "AmazonInfo Focus: Job ID is -123456 setting it to Zero before calling SetAmazonFcous");
        m_jobId = 0;
    }
    m_cleaner.SetJobId(m_jobId);

    if (!m_pSourceBridge || !m_pSourceBridge->initialize(focus, app, m_jobId)) {
        const std::string err = m_pSourceBridge ? AmazonCommon::BridgeError(m_pSourceBridge.get()) : "no bridge";
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to initialize the Amazon SDK bridge. Error [%s]", err.c_str());
        SetLastVMErrorDetails(err);
        return 0;
    }
    if (hasAdminAccount) {
        if (!m_pAdminBridge || !m_pAdminBridge->initialize(focus, app, m_jobId)) {
            const std::string err = m_pAdminBridge ? AmazonCommon::BridgeError(m_pAdminBridge) : "no bridge";
            EvDebug::Error(__PRETTY_FUNCTION__,
                           "Failed to initialize the Amazon SDK bridge for the mount account. Error [%s]",
                           err.c_str());
            SetLastVMErrorDetails(err);
            return 0;
        }
    }

    m_bUseDirectSnapshotAccess = true;
    KDPlatformInfo settings;
    bool useRest = true;
    if (settings.getBoolean("VirtualServer", "nAmazonUseRestAPIForDirectSnapshotAccess", useRest)) {
        m_bUseDirectSnapshotAccess = useRest;
        EvDebug::Debug(__PRETTY_FUNCTION__, "Read additional setting %s : %s",
                       "nAmazonUseRestAPIForDirectSnapshotAccess", useRest ? "True" : "False");
    }
    return 1;
}

int CAmazonInfo::DeInit() {
    SetLastVMError(0);
    return 1;
}

void CAmazonInfo::overrideSDKRegion(const std::string& region) {
    if (region.empty()) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Region Name is empty");
        return;
    }
    AmazonCommon::PointBothAt(*m_pSourceBridge, *m_pAdminBridge, region);
}

std::string CAmazonInfo::getProxyAWSComponentsFolder() { return AmazonCommon::ProxyAWSComponentsFolder(); }

void CAmazonInfo::LogNotPorted(const std::string& name) {
    EvDebug::Error(__PRETTY_FUNCTION__, "[%s] is not ported to linux", name.c_str());
}

void CAmazonInfo::EnsureTaskUtils() {
    if (!m_pTaskUtils)
        m_pTaskUtils = std::make_unique<CAmazonTaskUtils>(m_pSourceBridge.get(), m_pAdminBridge, this);
}
