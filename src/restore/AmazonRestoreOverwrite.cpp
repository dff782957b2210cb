// The instance a restore lands on: a new one, the existing one restored in
// place, or the existing one replaced when the job may overwrite it; and the
// AMI a restore to a new instance is launched from.
#include <boost/algorithm/string/trim.hpp>

#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "common/TagNames.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/KDPlatformInfo.h"

using namespace AmazonErrors;

void CAmazonInfo::SetRestoreWithNewVMGuidFlag(const RestoreCtx& ctx) {
    RestoreCtx& out = ctx.Out();
    if (!ctx.failback) {
        out.newVMGuid = true;
        return;
    }
    out.newVMGuid = !LookForSourceVM(ctx);
    EvDebug::Debug(__PRETTY_FUNCTION__, "Failback will [%s]",
                   out.newVMGuid ? "Create new source VM" : "Use existing source VM");
}

bool CAmazonInfo::LookForSourceVM(const RestoreCtx& ctx) {
    // Without an id there is nothing to look for: a name could match an
    // instance that is not the failback's source.
    if (ctx.vmGuid.empty()) return false;
    bool exists = false;
    std::vector<SVMInfo> vms;
    if (!DoesVMExist(ctx.vmGuid, "", ctx.destZone, exists, vms)) return false;
    for (const auto& vm : vms)
        if (vm.guid == ctx.vmGuid) return true;
    return false;
}

int CAmazonInfo::HandleOverwriteOption(const RestoreCtx& ctx, const std::string& region) {
    const char* const fn = __PRETTY_FUNCTION__;
    const std::string& name = ctx.restoreVMName;
    bool exists = false;
    std::vector<SVMInfo> vms;
    const bool found = DoesVMExist("", name, ctx.destZone, exists, vms) && exists && !vms.empty();
    // A failback that found its source instance restores into it: that
    // instance carrying the restore name is the target, not in the way.
    if (found && ctx.failback && !ctx.newVMGuid && vms.size() == 1 && vms.front().guid == ctx.vmGuid) {
        EvDebug::Debug(fn, "Failback restores into the existing source VM [%s]", ctx.vmGuid.c_str());
        return 1;
    }
    if (found) {
        EvDebug::Debug(fn, "Found [%d] VMs with name [%s] already in region [%s]", static_cast<int>(vms.size()),
                       name.c_str(), region.c_str());
        if (!ctx.overwrite) {
            EvDebug::Debug(fn, "As per task option not overwriting existing VM. Please use a non-existing VM name to "
                               "continue restore");
            SetLastVMError(kRestoreNameTaken);
            return 0;
        }
        if (vms.size() > 1) {
            EvDebug::Debug(fn, "More than one VM with name [%s] exists in region [%s]", name.c_str(), region.c_str());
            EvDebug::Debug(fn, "Though overwrite option is selected, can't decide which VM to delete.Please use a non "
                               "existing VM name to continue restore.");
            SetLastVMError(kRestoreNameAmbiguous);
            return 0;
        }
        EvDebug::Debug(fn, "One Vm with name [%s] exists in region [%s] ", name.c_str(), region.c_str());
        EvDebug::Debug(fn, "As per task option overwriting Vm");
        if (vms.front().terminationProtection) {
            EvDebug::Debug(fn,
                           "The existing VM [%s] is termination protected. Please disable termination protection on "
                           "this VM or use a non existing VM name.",
                           name.c_str());
            SetLastVMError(kTerminationProtected);
            return 0;
        }
    } else {
        EvDebug::Debug(fn, "Vm [%s] not found in a region [%s].", name.c_str(), region.c_str());
    }
    RestoreCtx& out = ctx.Out();
    out.newVMGuid = true;
    if (!found) return 1;

    const SVMInfo& existing = vms.front();
    if (ctx.inPlace && ctx.flavour == RestoreCtx::FullInstance && !ctx.conversion) {
        bool optimal = true;
        KDPlatformInfo().getBoolean("VirtualServer", "bAWSOptimalRestore", optimal);
        if (optimal && ctx.sourceGuid == existing.guid) {
            out.newVMGuid = false;
            // The restore goes into this instance: it is the VM GUID from
            // now on, never the job's temporary key.
            out.vmGuid = existing.guid;
            EvDebug::Debug(fn, "Source guid is not changed. The volumes and instance configuration would be restored "
                               "to the existing instance.");
            return 1;
        }
        EvDebug::Debug(fn,
                       "Guid has changed. Source instance id : [%s], existing instance id : [%s]. Existing instance "
                       "would be deleted during restore.",
                       ctx.sourceGuid.c_str(), existing.guid.c_str());
    }
    // The job's mark goes on first, so that a job dying half-way through the
    // deletion leaves an instance that reads as a restore's leftover.
    m_pSourceBridge->SetTag(existing.guid, AmazonTags::kBackupTag, "", false);
    std::string error;
    if (!AmazonCommon::QuietBridgeCall(
            *m_pSourceBridge, [&] { return DeleteInstance(existing.guid, true, true, false, true); }, error)) {
        EvDebug::Debug(fn, "Failed to delete the existing Instance [%s]. Aborting restore.!", existing.guid.c_str());
        SetLastVMError(kRestoreOverwriteDelete, error);
        return 0;
    }
    EvDebug::Debug(fn, "Successfully deleted the Instance [%s] in region [%s].", existing.guid.c_str(),
                   region.c_str());
    return 1;
}

bool CAmazonInfo::ValidateTemplate(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    std::string& ami = ctx.Out().amiTemplateId;
    if (ami.empty()) {
        EvDebug::Debug(fn, "AMI is not provided from GUI.");
        return false;
    }
    boost::algorithm::trim(ami);
    SVMInfo image;
    if (ami.empty() || !GetVMInfoForVM("", ami, ctx.destZone, 0, 0, image)) {
        EvDebug::Debug(fn, "AMI : [%s] validation failed.", ami.c_str());
        return false;
    }
    EvDebug::Debug(fn, "AMI [%s] from GUI validated successfully.", ami.c_str());
    return true;
}
