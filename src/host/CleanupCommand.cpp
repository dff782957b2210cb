// cleanup: what dead jobs left in the cleanup store removed; and the reading
// of that store the other commands share.
#include <cstdio>
#include <map>

#include "framework/VMCleaner.h"
#include "framework/VMSnapUtil.h"
#include "host/ConnectCommand.h"
#include "host/InventoryCommands.h"

const char* CleanerTypeName(int type) {
    switch (type) {
        case 1: return "instance";
        case 2: return "snapshot";
        case 3: return "volume";
        case 4: return "AMI";
        case 5: return "S3 object";
        case 6: return "AMI in use";
        case 7: return "run command";
        case 8: return "shared snapshot";
        case 9: return "volume replacement";
        default: return "entity";
    }
}

bool OpenProxyCleanupStore(CVMInfo& object, VMCleaner& store) {
    // The store is kept per proxy, under the proxy's instance id (or its
    // BIOS id on a machine that is not an instance).
    VMInfoStructs::SVMInfo proxy;
    object.GetLocalVMInfo(proxy, 0, 0);
    const std::string owner = proxy.guid.empty() ? proxy.biosUuid : proxy.guid;
    if (store.Init(owner, 0)) return true;
    std::fprintf(stderr, "error: cannot open the cleanup store %s\n", VMCleaner::DatabasePath().c_str());
    return false;
}

namespace {

// Everything registered under an owner, by cleaner path.
std::map<std::string, CleanerEntity> Entries(VMCleaner& store) {
    std::vector<CleanerEntity> all;
    store.ListAll(all);
    std::map<std::string, CleanerEntity> byPath;
    for (auto& e : all) byPath[e.path] = e;
    return byPath;
}
}  // namespace

bool CleanupOrphans(CVMInfo& object, bool verbose) {
    VMCleaner store;
    if (!OpenProxyCleanupStore(object, store)) return false;
    std::vector<CleanerEntity> orphans;
    store.GetOrphanedEntities(0, 1, orphans);
    const auto before = Entries(store);
    if (verbose || !orphans.empty()) std::printf("orphaned backup entries: %zu\n", orphans.size());

    int failed = 0;
    for (const auto& vm : orphans) {
        MountCtx ctx;
        ctx.requestedVMGuid = vm.id;
        ctx.cleanupString = CVMInfo::LoadCleanupString(vm.id);
        if (!object.CleanupVM(ctx)) {
            ++failed;
            std::printf("  %s: clean-up failed (error %d): %s\n", vm.id.c_str(), object.GetLastVMError(),
                        object.GetLastVMErrorDetails().c_str());
        }
    }
    // A restore job that died leaves its volumes, snapshots and half-made
    // instance under its temporary GUID, which the restore clean-up takes.
    std::vector<CleanerEntity> restores;
    store.GetOrphanedEntities(1, 1, restores);
    if (verbose || !restores.empty()) std::printf("orphaned restore entries: %zu\n", restores.size());
    for (const auto& vm : restores) {
        RestoreCtx ctx;
        ctx.registrationGuid = vm.id;
        ctx.vmGuid = vm.id;
        ctx.destRegion = vm.region;
        if (!object.CleanupRestoreVM(ctx)) {
            ++failed;
            std::printf("  %s: restore clean-up failed (error %d): %s\n", vm.id.c_str(), object.GetLastVMError(),
                        object.GetLastVMErrorDetails().c_str());
        }
    }
    // Volumes the snapshot manager was making for a mount whose process
    // died are the manager's to remove: no job recorded them.
    std::vector<std::string> released;
    std::string why;
    if (!CVMSnapUtil::ReleaseAbandonedMounts(released, why)) {
        ++failed;
        std::printf("  snapshot mounts: clean-up failed: %s\n", why.c_str());
    }
    for (const auto& id : released) std::printf("  removed volume %s of an unfinished snapshot mount\n", id.c_str());
    const auto after = Entries(store);
    for (const auto& [path, e] : before)
        if (!after.count(path) && e.type != 1) std::printf("  removed %s %s\n", CleanerTypeName(e.type), e.id.c_str());
    if (verbose)
        for (const auto& [path, e] : after)
            std::printf("  left   %s %s%s\n", CleanerTypeName(e.type), e.id.c_str(), e.mode == 1 ? " (restore)" : "");
    return failed == 0;
}

int RunCleanup(PluginLoader& loader, const ConnectJob& job) {
    auto object = ConnectObject(loader, job);
    if (!object) return 1;
    const bool ok = CleanupOrphans(*object, true);
    object->Disconnect();
    return ok ? 0 : 1;
}
