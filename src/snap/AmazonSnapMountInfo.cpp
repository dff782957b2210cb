// The live-browse mount hand-over: this object's connection and the mount
// its disk registry holds, as one message another process takes up.
#include "common/OperationGuard.h"
#include "disk/AmazonDiskInfo.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "snap/SnapMountMessage.h"

namespace {
constexpr int32_t kAdminCredential = 5;
constexpr int32_t kWebProxyCredential = 3;
}  // namespace

std::string CAmazonInfo::GetSnapMountInfo() {
    return AmazonGuard::Guarded(__PRETTY_FUNCTION__, std::string(), [&] {
        SnapMountMessage::Info info;
        info.endpoint = m_strURL;
        info.user = m_strUser;
        info.password = m_strPassword;
        if (m_bCrossAccount)
            info.credentials.emplace_back("", m_strAdminURL, m_strAdminUser, m_strAdminPassword, kAdminCredential);
        if (!m_webProxyHost.empty())
            info.credentials.emplace_back("", m_webProxyHost, m_webProxyUser, m_webProxyPassword,
                                          kWebProxyCredential);
        SVMInfo vm;
        std::vector<SDisk> disks;
        if (m_pDiskInfo && m_pDiskInfo->GetLiveBrowseMountInfo(vm, disks)) {
            info.region = vm.region;
            info.instanceName = vm.name;
            info.instanceId = vm.guid;
            for (const auto& d : disks)
                info.mappings.push_back({d.volumeId, d.snapshotId, d.zone, d.sectorSize});
        }
        std::string text, error;
        if (!SnapMountMessage::Serialize(info, text, error)) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to serialize the snap mount information: %s", error.c_str());
            return std::string();
        }
        return text;
    });
}

bool CAmazonInfo::SetSnapMountInfo(const std::string& text) {
    return AmazonGuard::Guarded(__PRETTY_FUNCTION__, false, [&] {
        SnapMountMessage::Info info;
        std::string error;
        if (!SnapMountMessage::Parse(text, info, error)) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Snap mount information refused: %s", error.c_str());
            return false;
        }
        if (!Connect(info.endpoint, info.user, info.password, info.credentials)) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Connect failed");
            return false;
        }
        if (!InitDiskInfo()) return false;
        if (info.instanceId.empty()) {
            EvDebug::Error(__PRETTY_FUNCTION__, "VM information not set");
            return false;
        }
        SVMInfo vm;
        vm.guid = info.instanceId;
        vm.name = info.instanceName;
        vm.region = info.region;
        if (!m_pDiskInfo->Connect(vm)) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to register VM with disk info");
            return false;
        }
        if (info.mappings.empty()) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Vol snap mapping is not set");
            return false;
        }
        for (const auto& m : info.mappings) {
            SDisk disk;
            disk.volumeId = disk.name = m.volumeId;
            disk.snapshotId = disk.snapshotIdCbt = m.snapshotId;
            disk.sectorSize = static_cast<uint32_t>(m.sectorSize);
            disk.zone = m.zone;
            if (!m_pDiskInfo->RegisterDisk(vm, disk, "EBS-DIRECT-API", false)) {
                EvDebug::Error(__PRETTY_FUNCTION__, "Failed to register disk [%s]", m.volumeId.c_str());
                return false;
            }
        }
        return true;
    });
}
