#pragma once
// The disk handle registry behind the data mover's open, read and close
// calls. For now it knows the VM it was initialised and connected with; disk
// handles arrive with the backup work, and until then opening a disk fails.
#include <string>

#include "records/VMInfoStructs.h"

class CAmazonTaskUtils;

class CAmazonDiskInfo {
public:
    explicit CAmazonDiskInfo(CAmazonTaskUtils* taskUtils) : m_taskUtils(taskUtils) {}

    // Binds the registry to the VM of the job (may be empty before a job).
    bool Initialize(const VMInfoStructs::SVMInfo& vm);
    // Connects the registry to the VM whose disks will be opened; false when
    // the record names no instance.
    bool Connect(const VMInfoStructs::SVMInfo& vm);

    const VMInfoStructs::SVMInfo& ConnectedVM() const { return m_vm; }
    CAmazonTaskUtils* TaskUtils() const { return m_taskUtils; }

private:
    CAmazonTaskUtils* m_taskUtils;
    VMInfoStructs::SVMInfo m_vm;
};
