// Whether the instance can be backed up by this proxy at all.
#include <algorithm>

#include "common/ErrorCodes.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"

using namespace AmazonErrors;

bool CAmazonInfo::IsBackupFeasible(const SVMInfo& vm, MountCtx& ctx) {
    if (vm.isTemplate) {
        SetLastVMError(kTemplate, "instance " + vm.guid + " is a template; templates are not backed up");
        EvDebug::Error(__PRETTY_FUNCTION__, "Template VM is not supported for Amazon backup job.");
        return false;
    }
    if (!ctx.liveBrowse && !ctx.snapBackup) {
        const std::string proxyId = GetProxyUUID();
        if (!proxyId.empty() && proxyId == vm.guid) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Proxy VM can't backup itself.");
            SetLastVMError(kProxyIsSource, "instance " + vm.guid + " is the proxy itself, which cannot back itself up");
            return false;
        }
    } else {
        EvDebug::Error(__PRETTY_FUNCTION__, "Proxy is eligible for snap backup or live browse");
    }
    if (vm.disks.empty()) {
        SetLastVMError(kNoVolumes, "instance " + vm.guid + " has no EBS volumes to back up");
        EvDebug::Error(__PRETTY_FUNCTION__, "Empty volume list for instance: [%s]. nothing to backup", vm.guid.c_str());
        return false;
    }
    if (std::none_of(vm.disks.begin(), vm.disks.end(), [](const SDisk& d) { return d.isOSDisk; }))
        EvDebug::Debug(__PRETTY_FUNCTION__,
                       "Instance [%s] is an instancestore-backed instance and it have [%lu] EBS volume(s). OS volume "
                       "(Instance store) will not be backed up, other EBS volumes will be backed up.",
                       vm.guid.c_str(), static_cast<unsigned long>(vm.disks.size()));
    CheckCrossAccountBackup(ctx);
    if (ctx.backupToTape && vm.snapErrorCode != 0) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Instance: [%s][%s] failed in snap backup phase with error code: [%d]",
                       vm.name.c_str(), vm.guid.c_str(), vm.snapErrorCode);
        SetLastVMError(vm.snapErrorCode);
        return false;
    }
    return true;
}

bool CAmazonInfo::CheckCrossAccountBackup(const MountCtx& ctx) {
    if (!m_bCrossAccount) return true;
    if (ctx.liveBrowse)
        EvDebug::Debug(__PRETTY_FUNCTION__, "CrossAccount is supported for snap live browse.");
    else if (ctx.backupToTape)
        EvDebug::Debug(__PRETTY_FUNCTION__, "CrossAccount is supported for backup copy job.");
    else if (ctx.snapBackup)
        EvDebug::Debug(__PRETTY_FUNCTION__, "CrossAccount is supported for snap backup job.");
    else
        EvDebug::Debug(__PRETTY_FUNCTION__, "CrossAccount is supported for streaming backup job.");
    m_bCrossAccountBackup = true;
    return true;
}
