// The instance record of a backup copy, read back from the metadata its snap
// backup wrote.
#include "backup/MountModes.h"
#include "common/ErrorCodes.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/VMSnapUtil.h"

using namespace AmazonErrors;

bool CAmazonInfo::PopulateVMInfoFromSnapBackupXml(MountCtx& ctx, SVMInfo& vm) {
    EvDebug::DebugLvl(__PRETTY_FUNCTION__, 1, "VMGuid:[%s], Snapshot JobId:[%s], VM Job ID: [%s]",
                      ctx.effectiveVMGuid.c_str(), std::to_string(ctx.snapJobId).c_str(),
                      std::to_string(ctx.vmJobId).c_str());
    ctx.indexingV2Copy = ctx.indexingV2;
    if (ctx.liveBrowse) ctx.snapJobId = ctx.vmJobId;
    // The instance-level file the snap backup left in the folder the job
    // names for its metadata.
    const std::string name = CVMSnapUtil::GetVMSnapMetadataFileName(ctx.snapJobId, ctx.requestedVMGuid);
    std::vector<VMInfoStructs::SDatastoreInfo> datastores;
    if (!AmazonMount::IsPathSafeId(ctx.requestedVMGuid) ||
        !m_pSnapUtil->ReadSnapMetadataXML(FwFile::JoinPath(ctx.snapMetadataFolder, name), datastores)) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "ReadSnapMetadataXML Failed");
        SetLastVMError(kSnapMetadataUnreadable, "ReadSnapMetadataXML Failed");
        return false;
    }
    ForgetSnapXmlInstances(ctx.snapJobId, datastores);
    if (!_PopulateVMInfoFromDSInfo(ctx.snapJobId)) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "_PopulateVMInfoFromDSInfo Failed");
        return false;
    }
    const SVMInfo* const known = SnapXmlInstance(ctx.snapJobId, ctx.effectiveVMGuid);
    if (!known) {
        SetLastVMError(kInstanceNotFound, "the snap job's metadata has no instance " + ctx.effectiveVMGuid);
        EvDebug::Error(__PRETTY_FUNCTION__, "Source instance [%s] information is not found in snap job XML.",
                       ctx.effectiveVMGuid.c_str());
        return false;
    }
    vm = *known;
    EvDebug::Debug(__PRETTY_FUNCTION__, "Region : [%s]", vm.region.c_str());
    for (auto& disk : vm.disks) disk.zone = vm.zone;
    LogDiskMetadata(vm);
    ParseGuestOS(vm);
    return true;
}
