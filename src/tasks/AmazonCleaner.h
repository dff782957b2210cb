#pragma once
// CAmazonCleaner: the plug-in's typed front to the framework's cleanup store.
// Every AWS resource a job creates is registered under the job's VM entry
// (mode 0 backup, 1 restore) before the job relies on it, and unregistered
// once it is gone. The VM entry is this job run's own: another job of the
// same VM has its own entry, which this object never finds as its VM.
//
// Each entry keeps the region its resource was made in, since AWS ids are
// regional and a resource must be deleted (or found gone) where it lives.
// An entry given no region, or stored before regions were kept, lives in
// the default region: the proxy's, set once the proxy is known. It keeps
// the account too where that is not the proxy's (a restore into another
// account), so that the clean-up asks the account that holds it.
#include <string>
#include <vector>

#include "framework/VMCleaner.h"
#include "records/VMInfoStructs.h"

enum VM_Cleaner_Mode { VM_CLEANER_BACKUP = 0, VM_CLEANER_RESTORE = 1 };
enum VM_Cleaner_EntityType {
    VM_CLEANER_VM = 1,          // a job's VM (root) or an instance the job created
    VM_CLEANER_SNAPSHOT = 2,
    VM_CLEANER_DISK = 3,        // an EBS volume
    VM_CLEANER_TEMPLATE = 4,    // an AMI
    VM_CLEANER_CLOUD_VHD = 5,   // an S3 object "bucket/key"
    // An AMI the job reads but did not make (its change-tracking reference):
    // registered so that no other job deletes it meanwhile; a clean-up lets
    // it go and never deletes it.
    VM_CLEANER_HELD_TEMPLATE = 6,
    // A run-command invocation a guest job waits on (its command id, in its
    // region and account): a job that dies while waiting leaves it for the
    // clean-up to cancel, since nobody will read its result.
    VM_CLEANER_GUEST_COMMAND = 7,
    // A snapshot of another account shared with the proxy's account for the
    // job (id, region, the account that holds it): registered before the
    // share, so that a job that dies leaves the sharing for the clean-up to
    // withdraw.
    VM_CLEANER_SHARED_SNAPSHOT = 8,
    // One device of an instance whose volumes a restore replaces in place
    // (instance, device, the volume it had, the volume going there, and
    // whether the instance was running): registered before the old volume
    // is detached and dropped once every new volume is attached, so that a
    // job dying in between leaves the clean-up enough to put the old
    // volumes back. Stores without this kind read as before.
    VM_CLEANER_VOLUME_REPLACEMENT = 9,
};

// One device's replacement, as a VM_CLEANER_VOLUME_REPLACEMENT entry holds it.
struct SVolumeReplacement {
    std::string instanceId;
    std::string device;
    std::string oldVolumeId;   // empty: the device was free
    std::string newVolumeId;
    bool wasRunning = false;

    // "instance;device;old;new;running|stopped"; the ids and device names
    // of EC2 never hold ";".
    std::string Stored() const;
    // False for text that is not such an entry (nothing is changed then).
    static bool FromStored(const std::string& text, SVolumeReplacement& out);
};

class CAmazonCleaner : public VMCleaner {
public:
    bool Init(const std::string& id) { return VMCleaner::Init(id, 0); }
    void DeInit() { VMCleaner::DeInit(); }
    void SetDefaultRegion(const std::string& region) { m_defaultRegion = region; }
    const std::string& DefaultRegion() const { return m_defaultRegion; }

    // region: where the VM (or the resource) lives; empty for the default.
    // account: the id of the account that holds the resource; empty for the
    // proxy's.
    bool RegisterVM(int mode, const std::string& vmGuid, const std::string& region = std::string());
    bool RegisterCreatedVM(int mode, const std::string& vmGuid, const std::string& id,
                           const std::string& region = std::string(), const std::string& account = std::string());
    bool RegisterSnapshot(int mode, const std::string& vmGuid, const std::string& id,
                          const std::string& region = std::string(), const std::string& account = std::string());
    bool RegisterDisk(int mode, const std::string& vmGuid, const std::string& id,
                      const std::string& region = std::string(), const std::string& account = std::string());
    bool RegisterTemplate(int mode, const std::string& vmGuid, const std::string& id,
                          const std::string& region = std::string());
    bool RegisterHeldTemplate(int mode, const std::string& vmGuid, const std::string& id,
                              const std::string& region = std::string());
    // name: "bucket/key"; stored with every "/" as ";".
    bool RegisterCloudVHD(int mode, const std::string& vmGuid, const std::string& name);
    bool RegisterGuestCommand(int mode, const std::string& vmGuid, const std::string& commandId,
                              const std::string& region, const std::string& account = std::string());
    bool RegisterSharedSnapshot(int mode, const std::string& vmGuid, const std::string& id,
                                const std::string& region, const std::string& account);
    bool RegisterVolumeReplacement(int mode, const std::string& vmGuid, const SVolumeReplacement& replacement,
                                   const std::string& region, const std::string& account = std::string());

    // flag true drops the VM's remaining entries too.
    bool UnRegisterVM(int mode, const std::string& vmGuid, bool flag);
    bool UnRegisterSnapshot(int mode, const std::string& vmGuid, const std::string& id);
    bool UnRegisterDisk(int mode, const std::string& vmGuid, const std::string& id);
    bool UnRegisterCreatedVM(int mode, const std::string& vmGuid, const std::string& id);
    bool UnRegisterTemplate(int mode, const std::string& vmGuid, const std::string& id);
    bool UnRegisterCloudVHD(int mode, const std::string& vmGuid, const std::string& name);
    bool UnRegisterGuestCommand(int mode, const std::string& vmGuid, const std::string& commandId);
    bool UnRegisterSharedSnapshot(int mode, const std::string& vmGuid, const std::string& id);

    // The VM's cleaner path: its live entry, or with orphaned the entry of
    // a job that is no longer running.
    bool GetRegisteredVM(int mode, const std::string& vmGuid, std::string& path, bool orphaned);
    // Disk records carry the volume id both as volume id and as new (mounted)
    // volume id, the field that detach and delete act on.
    bool GetRegisteredDisks(const std::string& path, std::vector<VMInfoStructs::SDisk>& disks);
    // The children of one type under path, each with its region (the default
    // one where none was stored).
    bool GetRegisteredItems(const std::string& path, int type, std::vector<CleanerEntity>& items);
    // The region an entry's resource lives in.
    std::string RegionOf(const CleanerEntity& entity) const {
        return entity.region.empty() ? m_defaultRegion : entity.region;
    }
    bool GetRegisteredSnapshots(const std::string& path, std::vector<std::string>& ids);
    bool GetRegisteredCreatedVMs(const std::string& path, std::vector<std::string>& ids);
    bool GetRegisteredCloudVHDs(const std::string& path, std::vector<std::string>& names);
    bool GetRegisteredTemplates(const std::string& path, std::vector<std::string>& ids);

    // Only once nothing is registered under the VM any more.
    bool UnRegisterVM(const std::string& path);
    bool UnRegisterSnapshot(const std::string& path, const std::string& id);
    bool UnRegisterDisk(const std::string& path, const std::string& id);
    bool UnRegisterCreatedVM(const std::string& path, const std::string& id);
    bool UnRegisterCloudVHD(const std::string& path, const std::string& name);
    bool UnRegisterTemplate(const std::string& path, const std::string& id);
    bool UnRegisterGuestCommand(const std::string& path, const std::string& commandId);
    bool UnRegisterSharedSnapshot(const std::string& path, const std::string& id);
    // entity: one of GetRegisteredItems(path, VM_CLEANER_VOLUME_REPLACEMENT).
    bool UnRegisterVolumeReplacement(const std::string& path, const CleanerEntity& entity) {
        return UnRegisterChild(path, VM_CLEANER_VOLUME_REPLACEMENT, entity.id);
    }
    // Lets go of every held AMI under path (the AMIs stay).
    bool ReleaseHeldTemplates(const std::string& path);

    // The orphaned VM entries (type 1) of the mode.
    bool GetOrphanedVMs(int mode, std::vector<CleanerEntity>& vms) { return GetOrphanedEntities(mode, VM_CLEANER_VM, vms); }

private:
    bool RegisterChild(int mode, const std::string& vmGuid, int type, const std::string& id,
                       const std::string& region = std::string(), const std::string& account = std::string());
    bool UnRegisterChild(int mode, const std::string& vmGuid, int type, const std::string& id);
    bool UnRegisterChild(const std::string& path, int type, const std::string& id);
    bool ChildIds(const std::string& path, int type, std::vector<std::string>& ids);

    std::string m_defaultRegion;
};
