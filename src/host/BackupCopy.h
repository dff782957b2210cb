#pragma once
// A backup copy of a snap backup as the framework runs one: the snap job's
// account is the snapshot manager's array for the run, the job context names
// the snap job, the snap job is mounted before the instance (its metadata
// read back; for a VM-centric snap job, its instance's files fetched as the
// index would hand them over) and unmounted after it.
#include <cstdint>
#include <memory>
#include <string>

#include "framework/VMInfo.h"
#include "host/HostOptions.h"
#include "host/SnapArray.h"

class BackupCopyJob {
public:
    // The instance of the snap job to copy: instanceId when given (it must
    // be one of the job's), else the job's only instance. False with why.
    static bool ResolveInstance(int64_t snapJobId, std::string& instanceId, std::string& why);

    // Fills ctx for the copy (its instance, mount path and mode set by the
    // caller) and mounts the snap job. False with why.
    bool Begin(CVMInfo& plugin, const ConnectJob& job, int64_t snapJobId, MountCtx& ctx, std::string& why);
    // After the instance's unmount: the snap job's own.
    void End(CVMInfo& plugin, MountCtx& ctx);

private:
    std::unique_ptr<HostSnap::ArrayRegistration> m_array;
};
