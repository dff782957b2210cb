// The catalogue of a VM-centric snap backup, written by PostSnap from the
// instances the job's mounts snapshotted.
#include "common/ErrorCodes.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "snap/SnapBackupCatalog.h"
#include "snap/SnapMetadataPaths.h"

bool CAmazonInfo::_GenerateSnapBackupCatalogXml(const MountCtx& ctx) {
    const std::string path = SnapMetadataPaths::CatalogFile(ctx);
    EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2, "Snap backup Metadata FilePath: [%s]", path.c_str());
    SnapBackupCatalog::Catalog catalog;
    catalog.jobId = ctx.jobId;
    catalog.vmLevelMetadata = ctx.vmLevelSnapMetadata;
    {
        // The job's instances leave the process-wide map here, written or
        // not: a later job of this process never sees them.
        std::lock_guard<CriticalSection> guard(c_InstanceGuidToVMInfoMapLock);
        auto job = c_InstanceGuidToVMInfoMap.find(ctx.jobId);
        if (job != c_InstanceGuidToVMInfoMap.end()) {
            for (auto& entry : job->second) catalog.vms.push_back(std::move(entry.second));
            c_InstanceGuidToVMInfoMap.erase(job);
        }
    }
    for (const auto& vm : catalog.vms)
        EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2,
                          "Added VM:: Name: [%s], ID: [%s], VMClientId: [%lld], VmJobId: [%lld], VmAppId: [%lld], "
                          "VMBackupsetGUID: [%s], VMSubclientGUID: [%s]",
                          vm.name.c_str(), vm.guid.c_str(), static_cast<long long>(vm.clientId),
                          static_cast<long long>(vm.vmJobId), static_cast<long long>(vm.vmAppId),
                          vm.backupSetGuid.c_str(), vm.subclientGuid.c_str());
    std::vector<SnapBackupCatalog::IndexFailure> warnings;
    std::string error;
    const bool saved = SnapBackupCatalog::Save(path, catalog, warnings, error);
    for (const auto& w : warnings)
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to serialize index metadata for instance: [%s], ret: [%d]",
                       w.instanceId.c_str(), w.code);
    if (!saved) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to save snap backup metadata XML file. [%s]", path.c_str());
        SetLastVMError(AmazonErrors::kSnapVolumeRecords, error);
        return false;
    }
    m_snap.metadataFiles.push_back(path);
    return true;
}
