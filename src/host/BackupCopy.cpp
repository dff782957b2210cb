// The framework's side of a backup copy: which snap job and instance, and
// the snap job's mount around the instance's.
#include "host/BackupCopy.h"

#include <set>

#include "framework/FileUtils.h"
#include "framework/KDPI.h"
#include "framework/SnapStore.h"
#include "framework/VMSnapUtil.h"

namespace {
// The instances a snap job's files name: a VM-centric job's instance-level
// files, else the instances of the job-level file's volumes.
bool JobInstances(int64_t snapJobId, std::set<std::string>& instances, bool& vmCentric, std::string& why) {
    std::vector<std::string> names;
    if (!CSnapStore::ListMetadataFiles(snapJobId, names) || names.empty()) {
        why = "the snapshot manager holds no files of snap job " + std::to_string(snapJobId);
        return false;
    }
    const std::string prefix = "backup_" + std::to_string(snapJobId) + "_";
    for (const auto& name : names)
        if (name.rfind(prefix, 0) == 0 && name.size() > prefix.size() + 4)
            instances.insert(name.substr(prefix.size(), name.size() - prefix.size() - 4));
    vmCentric = !instances.empty();
    if (vmCentric) return true;
    std::string bytes;
    const std::string jobFile = CVMSnapUtil::GetSnapMetadataFileName(snapJobId);
    const std::string temp = FwFile::JoinPath(KDPI_Base::getTempDir(), "copy-" + jobFile);
    std::vector<VMInfoStructs::SDatastoreInfo> datastores;
    CVMSnapUtil reader(nullptr);
    const bool read = CSnapStore::LoadMetadataFile(snapJobId, jobFile, bytes) &&
                      FwFile::MakeDirs(KDPI_Base::getTempDir()) && FwFile::WriteAllAtomic(temp, bytes) &&
                      reader.ReadSnapMetadataXML(temp, datastores);
    FwFile::RemoveFile(temp);
    if (!read) {
        why = "the snap metadata of snap job " + std::to_string(snapJobId) + " does not read back";
        return false;
    }
    for (const auto& ds : datastores)
        for (const auto& vm : ds.vms) instances.insert(vm.guid);
    return true;
}
}  // namespace

bool BackupCopyJob::ResolveInstance(int64_t snapJobId, std::string& instanceId, std::string& why) {
    std::set<std::string> instances;
    bool vmCentric = false;
    if (!JobInstances(snapJobId, instances, vmCentric, why)) return false;
    if (!instanceId.empty()) {
        if (instances.count(instanceId)) return true;
        why = "snap job " + std::to_string(snapJobId) + " holds no backup of instance " + instanceId;
        return false;
    }
    if (instances.size() == 1) {
        instanceId = *instances.begin();
        return true;
    }
    why = "snap job " + std::to_string(snapJobId) + " holds " + std::to_string(instances.size()) +
          " instances: name one with --instance";
    return false;
}

bool BackupCopyJob::Begin(CVMInfo& plugin, const ConnectJob& job, int64_t snapJobId, MountCtx& ctx,
                          std::string& why) {
    std::set<std::string> instances;
    if (!JobInstances(snapJobId, instances, ctx.indexingV2, why)) return false;
    m_array = std::make_unique<HostSnap::ArrayRegistration>(job);
    ctx.snapJobId = snapJobId;
    ctx.backupToTape = ctx.snapBackup = true;
    ctx.snapControlHostId = static_cast<int32_t>(HostSnap::kArray);
    ctx.jobResultsFolder = FwFile::JoinPath(FwFile::JoinPath(KDPI_Base::getBaseDir(), "JobResults"),
                                            std::to_string(job.jobId));
    if (ctx.indexingV2) {
        // The index hands a VM-centric copy its instance's files.
        ctx.snapMetadataFolder = FwFile::JoinPath(FwFile::JoinPath(ctx.jobResultsFolder, "Metadata"),
                                                  ctx.requestedVMGuid);
        CVMSnapUtil util(nullptr);
        if (!FwFile::MakeDirs(ctx.snapMetadataFolder) ||
            !util.DownloadVMMetadataFiles(ctx, ctx.requestedVMGuid, ctx.snapMetadataFolder)) {
            why = "the files of instance " + ctx.requestedVMGuid + " in snap job " + std::to_string(snapJobId) +
                  " cannot be fetched";
            return false;
        }
    }
    if (!plugin.MountSnap(ctx)) {
        why = "cannot mount snap job " + std::to_string(snapJobId) + " (error " +
              std::to_string(plugin.GetLastVMError()) + "): " + plugin.GetLastVMErrorDetails();
        return false;
    }
    return true;
}

void BackupCopyJob::End(CVMInfo& plugin, MountCtx& ctx) {
    plugin.UnmountSnap(ctx);
    if (ctx.indexingV2 && !ctx.snapMetadataFolder.empty()) FwFile::RemoveTree(ctx.snapMetadataFolder);
    m_array.reset();
}
