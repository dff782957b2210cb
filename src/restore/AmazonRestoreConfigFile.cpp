// What a restore reads from the instance configuration file the backup
// stored: the instance's description and tags, and the data disks the user
// left out.
#include <strings.h>

#include <algorithm>
#include <iterator>
#include <sstream>

#include "bridge/AmazonSDKBridge.h"
#include "common/InstanceConfigName.h"
#include "common/RegionScope.h"
#include "common/TagNames.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/KDPlatformInfo.h"
#include "framework/VMConfigFile.h"
#include "restore/RestoreDisks.h"
#include "tasks/AmazonTaskUtils.h"

namespace {

// Tags of the backed-up instance that name it or the backup's own AMIs:
// the new instance gets its own name and has no backups yet.
const char* const kTagsNotCopied[] = {"Name", AmazonTags::kBackupTag, AmazonTags::kAMITag,
                                      AmazonTags::kRetainSnapTag};

std::string Trimmed(const std::string& text) {
    const char* blanks = " \t\r\n";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace

bool CAmazonInfo::PrepareRestoreCtxVMInfoFromConfigFile(const RestoreCtx& ctx,
                                                        std::map<std::string, std::string>& tags) {
    // A converted VM has no such file, and an attach disk restore keeps the
    // instance it attaches to.
    if (ctx.conversion || ctx.flavour == RestoreCtx::AttachDisk) return true;
    SVMInfo& vm = ctx.Out().vm;
    if (!PopulateVMInfoFromVMConfigFile(ctx, vm, tags)) return false;
    for (const char* key : kTagsNotCopied) tags.erase(key);
    // AWS refuses to set a key it reserves for itself.
    for (auto it = tags.begin(); it != tags.end();)
        it = AmazonTags::IsAwsReservedKey(it->first) ? tags.erase(it) : std::next(it);
    EvDebug::Debug(__PRETTY_FUNCTION__,
                   "Properties read from Config file; Instance type : [%s] AMI id : [%s] Virtualization type : [%s]  "
                   "OS : [%s]",
                   vm.instanceType.c_str(), vm.amiId.c_str(),
                   strcasecmp(vm.virtualizationType.c_str(), "paravirtual") == 0 ? " paravirtual" : " hvm",
                   vm.guestOS.c_str());
    CheckDoNotUseSourceAMIList(ctx);
    return true;
}

bool CAmazonInfo::PopulateVMInfoFromVMConfigFile(const RestoreCtx& ctx, SVMInfo& vm,
                                                 std::map<std::string, std::string>& tags) {
    if (!FindVMConfigFile(ctx)) return false;
    EvDebug::Debug(__PRETTY_FUNCTION__, "Restored Config file [%s]", ctx.configFilePath.c_str());
    VMConfigFile document;
    if (!document.Load(ctx.configFilePath, vm)) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Failed to load properties from Config file.");
        return false;
    }
    tags = document.GetTags();
    return true;
}

bool CAmazonInfo::FindVMConfigFile(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    RestoreCtx& out = ctx.Out();
    out.configFilePath.clear();
    std::vector<std::string> names;
    if (!FwFile::IsDirectory(ctx.restorePath) || !FwFile::ListDir(ctx.restorePath, names)) {
        EvDebug::Error(fn, "Error Accessing Restore Path[%s], Error = [%s]", ctx.restorePath.c_str(),
                       FwFile::Exists(ctx.restorePath) ? "the folder cannot be read" : "no such folder");
        return false;
    }
    for (const auto& name : names) {
        if (!AmazonCommon::IsInstanceConfigFileOf(name, ctx.sourceGuid)) continue;
        out.configFilePath = FwFile::JoinPath(ctx.restorePath, name);
        EvDebug::Debug(fn, "Found VM Config File [%s]", out.configFilePath.c_str());
        return true;
    }
    EvDebug::Error(fn, "Could not find a .xml config file at [%s]", ctx.restorePath.c_str());
    return false;
}

void CAmazonInfo::CheckDoNotUseSourceAMIList(const RestoreCtx& ctx) {
    std::string setting;
    if (!KDPlatformInfo().getString("VirtualServer", "sAmazonDoNotUseSourceAMIList", setting) || setting.empty())
        return;
    EvDebug::Debug(__PRETTY_FUNCTION__, "Read additional setting: [%s]", setting.c_str());
    SVMInfo& vm = ctx.Out().vm;
    std::stringstream entries(setting);
    std::string entry;
    while (std::getline(entries, entry, ',')) {
        if (vm.amiId.empty() || Trimmed(entry) != vm.amiId) continue;
        EvDebug::Debug(__PRETTY_FUNCTION__, "Ignoring source AMI: [%s] as per additional setting.", vm.amiId.c_str());
        vm.amiId.clear();
    }
}

bool CAmazonInfo::HandleFilteredDataDisks(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    bool enabled = false;
    KDPlatformInfo().getBoolean("VirtualServer", "bCreateEmptyDataDisksForRestore", enabled);
    if (!enabled) return true;
    EvDebug::Debug(fn, "Restoring empty data volumes as per the additional settings [%s]",
                   "bCreateEmptyDataDisksForRestore");
    if (!m_restore.restoredInstanceReady) {
        EvDebug::Error(fn, "The instance [%s] was not restored; no empty data volumes are added to it",
                       ctx.vmGuid.c_str());
        return false;
    }
    SVMInfo backedUp;
    VMConfigFile document;
    if (ctx.configFilePath.empty() || !document.Load(ctx.configFilePath, backedUp)) {
        EvDebug::Debug(fn, "Failed to load properties from Config file.");
        return false;
    }
    // The restore's disks name their new volumes by now; what they were
    // restored from is kept beside.
    auto restored = [&](const SDisk& disk) {
        return std::any_of(ctx.disks.begin(), ctx.disks.end(), [&](const SDisk& d) {
            return !d.originalVolumeId.empty() && strcasecmp(d.originalVolumeId.c_str(), disk.volumeId.c_str()) == 0;
        });
    };
    EnsureTaskUtils();
    const AmazonCommon::BridgePairRegionScope inDestination(*m_pSourceBridge, *m_pAdminBridge, ctx.destRegion);
    bool result = true;
    for (const auto& source : backedUp.disks) {
        if (source.isOSDisk || restored(source)) continue;
        EvDebug::Debug(fn, "Restore [%s] as an empty volume", source.volumeId.c_str());
        SDisk disk = source;
        disk.zone = ctx.vm.zone;
        disk.volumeType = "gp2";
        disk.iops = 100;
        // Made in the destination account, where the instance is.
        // Registered, from the moment it exists, until the instance holds
        // it, so that a failed or killed job does not leave it behind.
        const auto record = [&](const std::string& made) {
            if (!m_cleaner.RegisterDisk(VM_CLEANER_RESTORE, ctx.registrationGuid, made, ctx.destRegion,
                                        SourceAccountForCleaner()))
                EvDebug::Error(fn, "Failed in registering disk [%s].", made.c_str());
        };
        const bool created = m_pTaskUtils->CreateEmptyVolume(disk, ctx.destRegion, "", true, record);
        if (disk.newVolumeId.empty()) {
            result = false;
            continue;
        }
        if (created && m_pTaskUtils->AttachVolume(disk.newVolumeId, ctx.vmGuid, ctx.vm.zone, ctx.destRegion, false,
                                                  source.deviceName, true)) {
            if (!m_cleaner.UnRegisterDisk(VM_CLEANER_RESTORE, ctx.registrationGuid, disk.newVolumeId))
                EvDebug::Error(fn, "Failed to unregister disk [%s]", disk.newVolumeId.c_str());
            continue;
        }
        result = false;
        // An empty volume nobody holds is worth nothing: it goes at once.
        if (m_pTaskUtils->DeleteVolume(disk, true) &&
            !m_cleaner.UnRegisterDisk(VM_CLEANER_RESTORE, ctx.registrationGuid, disk.newVolumeId))
            EvDebug::Error(fn, "Failed to unregister disk [%s]", disk.newVolumeId.c_str());
    }
    return result;
}
