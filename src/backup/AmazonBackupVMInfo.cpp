// The records a backup mount starts from: the source instance's and the
// proxy's own.
#include <cctype>
#include <mutex>

#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"

using namespace AmazonErrors;

namespace {
// Info-level masks of the bridge's look-up: the source instance with its
// disks, and the proxy's placement.
constexpr ULONGLONG kSourceInstanceMask = 0x2000207b;
constexpr ULONGLONG kProxyInstanceMask = 0x2010;
const char* LowerBool(bool value) { return value ? "true" : "false"; }
}  // namespace

std::string CAmazonInfo::RegionFromZone(const std::string& zone) {
    if (zone.empty() || !std::isalpha(static_cast<unsigned char>(zone.back()))) return zone;
    return zone.substr(0, zone.size() - 1);
}

void CAmazonInfo::LogDiskMetadata(const SVMInfo& vm) {
    for (const auto& d : vm.disks)
        EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2,
                          "Disk Metadata => Zone [%s] status : [%s]  Encrypted : [%s] DeleteOnTermination : [%s] "
                          "Volume type : [%s] device name : [%s] ID : [%s] IOPS : [%d] OS Disk : [%s]",
                          d.zone.c_str(), d.state.c_str(), LowerBool(d.encrypted), LowerBool(d.deleteOnTermination),
                          d.volumeType.c_str(), d.deviceName.c_str(), d.volumeId.c_str(), d.iops,
                          d.isOSDisk ? "True" : "False");
}

void CAmazonInfo::ParseGuestOS(SVMInfo& vm) {
    if (vm.guestOS.empty()) return;
    const int osId = ParseRawGuestOSName(vm.guestOS, vm.guestOSInfo);
    EvDebug::Error(__PRETTY_FUNCTION__, "Source instance OS: [%s] SIM OS ID: [%d]", vm.guestOS.c_str(), osId);
}

bool CAmazonInfo::_InitVMInfoForBackup(const std::string& name, const std::string& id, const std::string& zone,
                                       bool fromSnapJob, int64_t snapJobId, SVMInfo& vm) {
    if (fromSnapJob) {
        const SVMInfo* const known = SnapXmlInstance(snapJobId, id);
        if (!known) {
            SetLastVMError(kInstanceNotFound, "the snap job's metadata has no instance " + id);
            EvDebug::Error(__PRETTY_FUNCTION__, "Source instance [%s] information is not found in snap job XML.",
                           id.c_str());
            return false;
        }
        vm = *known;
        if (!vm.region.empty()) {
            EvDebug::Debug(__PRETTY_FUNCTION__, "Region : [%s]", vm.region.c_str());
        } else {
            EvDebug::Debug(__PRETTY_FUNCTION__, "Region is empty, may be old job.");
            vm.region = RegionFromZone(vm.zone);
        }
        for (auto& disk : vm.disks) disk.zone = vm.zone;
        LogDiskMetadata(vm);
    } else if (!GetVMInfoForVM(name, id, zone, kSourceInstanceMask, 0, vm)) {
        // The look-up's own words say whether the instance is gone or the
        // cloud could not be asked.
        const std::string cause = AmazonCommon::BridgeError(m_pSourceBridge.get());
        SetLastVMError(kInstanceNotFound, "the source instance " + id + " is not found" +
                                              (cause.empty() ? std::string() : ": " + cause));
        EvDebug::Error(__PRETTY_FUNCTION__, "Source instance [%s] is not found.", id.c_str());
        return false;
    }
    ParseGuestOS(vm);
    return true;
}

bool CAmazonInfo::_InitProxyInfoForBackup(const MountCtx& ctx) {
    const std::string proxyId = ctx.remoteProxy ? ctx.remoteProxyGuid : GetProxyUUID();
    if (proxyId.empty()) {
        if (IsProxyAmazonInstance()) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to reach AWS instance metadata service.");
            SetLastVMError(kMetadataServiceUnreachable,
                           "the instance metadata service cannot be reached to learn the proxy's instance");
        } else {
            EvDebug::Error(__PRETTY_FUNCTION__, "Proxy is not Amazon Instance.");
            SetLastVMError(kProxyNotAmazon, "the proxy is not an EC2 instance");
        }
        return false;
    }
    std::lock_guard<CriticalSection> guard(c_ProxyInfoLock);
    // Keyed by the instance: a later job of this object that names another
    // remote proxy must not be given the first proxy's placement.
    if (m_bProxyInfoFetched && m_proxyVMInfo.guid == proxyId) {
        EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2, "Proxy information already fetched, using from cache");
        return true;
    }
    EvDebug::Debug(__PRETTY_FUNCTION__, "Proxy instance ID : [%s]", proxyId.c_str());
    SVMInfo proxy;
    std::string error;
    if (!AmazonCommon::BridgeCall(
            *m_pAdminBridge, __PRETTY_FUNCTION__,
            [&] { return m_pAdminBridge->GetVMInfoForVM("", proxyId, "", "", kProxyInstanceMask, 0, proxy) != 0; }, error,
            "Failed to get the proxy VM Info. Error [%s]")) {
        SetLastVMError(kProxyRecord, error);
        return false;
    }
    EvDebug::Debug(__PRETTY_FUNCTION__, "Zone : [%s], Instance Type : [%s], EBS optimized : [%s], disk count : [%ld]",
                   proxy.zone.c_str(), proxy.instanceType.c_str(), proxy.ebsOptimized ? "True" : "False",
                   static_cast<long>(proxy.disks.size()));
    m_proxyVMInfo = std::move(proxy);
    m_bProxyInfoFetched = true;
    return true;
}
