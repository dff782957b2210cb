// The framework's archive files of snap backups, as the stand-in keeps them:
// ids handed out once per process, invalidations remembered per object.
#include <atomic>

#include "framework/EvDebug.h"
#include "framework/VMInfo.h"

int CVMInfo::CreateArchiveFileForSnapBackup(MountCtx& ctx, uint32_t& archiveFileId, const std::string& name) {
    static std::atomic<uint32_t> next{1};
    archiveFileId = next++;
    EvDebug::DebugLvl("CVMInfo::CreateArchiveFileForSnapBackup", 2, "archive file [%u] of job [%lld] for [%s]",
                      archiveFileId, static_cast<long long>(ctx.jobId), name.c_str());
    return 1;
}

bool CVMInfo::InvalidateArchiveFiles(int64_t jobId, int32_t hubCellId, const std::vector<uint32_t>& ids) {
    for (uint32_t id : ids) {
        EvDebug::DebugLvl("CVMInfo::InvalidateArchiveFiles", 2, "archive file [%u] of job [%lld] (hub cell [%d])", id,
                          static_cast<long long>(jobId), hubCellId);
        m_invalidatedArchiveFiles.push_back(id);
    }
    return true;
}

void CVMInfo::NotifyProgressUpdate(const MountCtx&) { ++m_progressUpdates; }

void CVMInfo::StartAppawareWorkflow(MountCtx& ctx, const SVMBasicInfo& vm) {
    EvDebug::DebugLvl("CVMInfo::StartAppawareWorkflow", 2, "application-aware workflow of job [%lld] for [%s]",
                      static_cast<long long>(ctx.jobId), vm.guid.c_str());
    m_appawareInstances.push_back(vm.guid);
}
