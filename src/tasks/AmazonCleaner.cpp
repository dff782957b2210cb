#include "tasks/AmazonCleaner.h"

#include <algorithm>

namespace {
std::string ToStored(std::string name) {
    std::replace(name.begin(), name.end(), '/', ';');
    return name;
}
std::string FromStored(std::string name) {
    std::replace(name.begin(), name.end(), ';', '/');
    return name;
}
}  // namespace

// An empty id names no resource; registering it would only leave an entry
// no clean-up can act on.
bool CAmazonCleaner::RegisterVM(int mode, const std::string& vmGuid, const std::string& region) {
    if (vmGuid.empty()) return false;
    return RegisterEntity(mode, "", VM_CLEANER_VM, vmGuid, nullptr, region);
}

bool CAmazonCleaner::RegisterChild(int mode, const std::string& vmGuid, int type, const std::string& id,
                                   const std::string& region, const std::string& account) {
    if (id.empty()) return false;
    CleanerEntity root;
    if (!LookupEntity(mode, VM_CLEANER_VM, vmGuid, root)) return false;
    return RegisterEntity(mode, root.path, type, id, nullptr, region, account);
}

bool CAmazonCleaner::RegisterCreatedVM(int mode, const std::string& vmGuid, const std::string& id,
                                       const std::string& region, const std::string& account) {
    return RegisterChild(mode, vmGuid, VM_CLEANER_VM, id, region, account);
}
bool CAmazonCleaner::RegisterSnapshot(int mode, const std::string& vmGuid, const std::string& id,
                                      const std::string& region, const std::string& account) {
    return RegisterChild(mode, vmGuid, VM_CLEANER_SNAPSHOT, id, region, account);
}
// Staged volumes are always made in the proxy's zone.
bool CAmazonCleaner::RegisterDisk(int mode, const std::string& vmGuid, const std::string& id,
                                  const std::string& region, const std::string& account) {
    return RegisterChild(mode, vmGuid, VM_CLEANER_DISK, id, region, account);
}
bool CAmazonCleaner::RegisterTemplate(int mode, const std::string& vmGuid, const std::string& id,
                                      const std::string& region) {
    return RegisterChild(mode, vmGuid, VM_CLEANER_TEMPLATE, id, region);
}
bool CAmazonCleaner::RegisterHeldTemplate(int mode, const std::string& vmGuid, const std::string& id,
                                          const std::string& region) {
    return RegisterChild(mode, vmGuid, VM_CLEANER_HELD_TEMPLATE, id, region);
}
bool CAmazonCleaner::RegisterCloudVHD(int mode, const std::string& vmGuid, const std::string& name) {
    return RegisterChild(mode, vmGuid, VM_CLEANER_CLOUD_VHD, ToStored(name));
}

bool CAmazonCleaner::RegisterGuestCommand(int mode, const std::string& vmGuid, const std::string& commandId,
                                          const std::string& region, const std::string& account) {
    return RegisterChild(mode, vmGuid, VM_CLEANER_GUEST_COMMAND, commandId, region, account);
}

bool CAmazonCleaner::UnRegisterVM(int mode, const std::string& vmGuid, bool flag) {
    CleanerEntity root;
    if (!LookupEntity(mode, VM_CLEANER_VM, vmGuid, root)) return false;
    return UnRegisterEntity(root.path, flag);
}

bool CAmazonCleaner::UnRegisterChild(int mode, const std::string& vmGuid, int type, const std::string& id) {
    CleanerEntity root;
    if (!LookupEntity(mode, VM_CLEANER_VM, vmGuid, root)) return false;
    return UnRegisterEntity(ConstructHandle(root, type, id), false);
}

bool CAmazonCleaner::RegisterSharedSnapshot(int mode, const std::string& vmGuid, const std::string& id,
                                            const std::string& region, const std::string& account) {
    return RegisterChild(mode, vmGuid, VM_CLEANER_SHARED_SNAPSHOT, id, region, account);
}
std::string SVolumeReplacement::Stored() const {
    return instanceId + ";" + device + ";" + oldVolumeId + ";" + newVolumeId + ";" +
           (wasRunning ? "running" : "stopped");
}

bool SVolumeReplacement::FromStored(const std::string& text, SVolumeReplacement& out) {
    std::vector<std::string> parts;
    for (size_t start = 0;;) {
        const size_t end = text.find(';', start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    if (parts.size() != 5 || parts[0].empty() || parts[1].empty() || parts[3].empty() ||
        (parts[4] != "running" && parts[4] != "stopped"))
        return false;
    out.instanceId = parts[0];
    out.device = parts[1];
    out.oldVolumeId = parts[2];
    out.newVolumeId = parts[3];
    out.wasRunning = parts[4] == "running";
    return true;
}

bool CAmazonCleaner::RegisterVolumeReplacement(int mode, const std::string& vmGuid,
                                               const SVolumeReplacement& replacement, const std::string& region,
                                               const std::string& account) {
    return RegisterChild(mode, vmGuid, VM_CLEANER_VOLUME_REPLACEMENT, replacement.Stored(), region, account);
}

bool CAmazonCleaner::UnRegisterSharedSnapshot(int mode, const std::string& vmGuid, const std::string& id) {
    return UnRegisterChild(mode, vmGuid, VM_CLEANER_SHARED_SNAPSHOT, id);
}
bool CAmazonCleaner::UnRegisterSharedSnapshot(const std::string& path, const std::string& id) {
    return UnRegisterChild(path, VM_CLEANER_SHARED_SNAPSHOT, id);
}
bool CAmazonCleaner::UnRegisterSnapshot(int mode, const std::string& vmGuid, const std::string& id) {
    return UnRegisterChild(mode, vmGuid, VM_CLEANER_SNAPSHOT, id);
}
bool CAmazonCleaner::UnRegisterDisk(int mode, const std::string& vmGuid, const std::string& id) {
    return UnRegisterChild(mode, vmGuid, VM_CLEANER_DISK, id);
}
bool CAmazonCleaner::UnRegisterCreatedVM(int mode, const std::string& vmGuid, const std::string& id) {
    return UnRegisterChild(mode, vmGuid, VM_CLEANER_VM, id);
}
bool CAmazonCleaner::UnRegisterTemplate(int mode, const std::string& vmGuid, const std::string& id) {
    return UnRegisterChild(mode, vmGuid, VM_CLEANER_TEMPLATE, id);
}
bool CAmazonCleaner::UnRegisterCloudVHD(int mode, const std::string& vmGuid, const std::string& name) {
    return UnRegisterChild(mode, vmGuid, VM_CLEANER_CLOUD_VHD, ToStored(name));
}
bool CAmazonCleaner::UnRegisterGuestCommand(int mode, const std::string& vmGuid, const std::string& commandId) {
    return UnRegisterChild(mode, vmGuid, VM_CLEANER_GUEST_COMMAND, commandId);
}

bool CAmazonCleaner::GetRegisteredVM(int mode, const std::string& vmGuid, std::string& path, bool orphaned) {
    path.clear();
    if (!IsInitialized()) return false;
    if (!orphaned) {
        CleanerEntity root;
        if (!LookupEntity(mode, VM_CLEANER_VM, vmGuid, root)) return false;
        return GetCleanerPathForEntityHandle(root, path);
    }
    std::vector<CleanerEntity> orphans;
    if (!GetOrphanedEntities(mode, VM_CLEANER_VM, orphans)) return false;
    for (const auto& vm : orphans)
        if (vm.id == vmGuid) return GetCleanerPathForEntityHandle(vm, path);
    return false;
}

bool CAmazonCleaner::ChildIds(const std::string& path, int type, std::vector<std::string>& ids) {
    ids.clear();
    std::vector<CleanerEntity> items;
    if (!FillItemsFromCleanerPath(path, type, items)) return false;
    for (const auto& item : items) ids.push_back(item.id);
    return true;
}

bool CAmazonCleaner::GetRegisteredItems(const std::string& path, int type, std::vector<CleanerEntity>& items) {
    if (!FillItemsFromCleanerPath(path, type, items)) return false;
    for (auto& item : items) item.region = RegionOf(item);
    return true;
}

bool CAmazonCleaner::GetRegisteredDisks(const std::string& path, std::vector<VMInfoStructs::SDisk>& disks) {
    disks.clear();
    std::vector<CleanerEntity> items;
    if (!GetRegisteredItems(path, VM_CLEANER_DISK, items)) return false;
    for (const auto& item : items) {
        VMInfoStructs::SDisk disk;
        disk.name = item.id;
        disk.volumeId = item.id;
        disk.newVolumeId = item.id;
        disk.diskType = 1;
        disks.push_back(disk);
    }
    return true;
}

bool CAmazonCleaner::GetRegisteredSnapshots(const std::string& path, std::vector<std::string>& ids) {
    return ChildIds(path, VM_CLEANER_SNAPSHOT, ids);
}

bool CAmazonCleaner::GetRegisteredTemplates(const std::string& path, std::vector<std::string>& ids) {
    return ChildIds(path, VM_CLEANER_TEMPLATE, ids);
}

bool CAmazonCleaner::GetRegisteredCreatedVMs(const std::string& path, std::vector<std::string>& ids) {
    return ChildIds(path, VM_CLEANER_VM, ids);
}

bool CAmazonCleaner::GetRegisteredCloudVHDs(const std::string& path, std::vector<std::string>& names) {
    if (!ChildIds(path, VM_CLEANER_CLOUD_VHD, names)) return false;
    for (auto& name : names) name = FromStored(name);
    return true;
}

bool CAmazonCleaner::UnRegisterVM(const std::string& path) { return UnRegisterEntity(path, false); }

bool CAmazonCleaner::UnRegisterChild(const std::string& path, int type, const std::string& id) {
    std::vector<CleanerEntity> items;
    if (!FillItemsFromCleanerPath(path, type, items)) return false;
    for (const auto& item : items)
        if (item.id == id) return UnRegisterEntity(item.path, false);
    return false;
}

bool CAmazonCleaner::UnRegisterSnapshot(const std::string& path, const std::string& id) {
    return UnRegisterChild(path, VM_CLEANER_SNAPSHOT, id);
}
bool CAmazonCleaner::UnRegisterDisk(const std::string& path, const std::string& id) {
    return UnRegisterChild(path, VM_CLEANER_DISK, id);
}
bool CAmazonCleaner::UnRegisterCreatedVM(const std::string& path, const std::string& id) {
    return UnRegisterChild(path, VM_CLEANER_VM, id);
}
bool CAmazonCleaner::UnRegisterCloudVHD(const std::string& path, const std::string& name) {
    return UnRegisterChild(path, VM_CLEANER_CLOUD_VHD, ToStored(name));
}
bool CAmazonCleaner::UnRegisterTemplate(const std::string& path, const std::string& id) {
    return UnRegisterChild(path, VM_CLEANER_TEMPLATE, id);
}
bool CAmazonCleaner::UnRegisterGuestCommand(const std::string& path, const std::string& commandId) {
    return UnRegisterChild(path, VM_CLEANER_GUEST_COMMAND, commandId);
}

bool CAmazonCleaner::ReleaseHeldTemplates(const std::string& path) {
    std::vector<CleanerEntity> items;
    if (!FillItemsFromCleanerPath(path, VM_CLEANER_HELD_TEMPLATE, items)) return false;
    bool ok = true;
    for (const auto& item : items) ok = UnRegisterEntity(item.path, false) && ok;
    return ok;
}
