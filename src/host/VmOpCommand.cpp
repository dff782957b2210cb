// vm-op: one VM operation on one instance, as the framework asks for it.
#include <cstdio>

#include "host/ConnectCommand.h"
#include "host/InventoryCommands.h"

namespace {
// The framework names the volume of a snapshot by the first snapshot entry
// of the instance's first disk.
void NameSnapshotVolume(VMInfoStructs::SVMInfo& vm, const std::string& volumeId) {
    if (vm.disks.empty()) vm.disks.resize(1);
    VMInfoStructs::SChildDisk entry;
    entry.volumeId = volumeId;
    entry.description = "Snapshot of " + volumeId + " of " + vm.guid + " taken by amazon-host";
    vm.disks.front().snapshots = {entry};
}
}  // namespace

int RunVmOperation(PluginLoader& loader, const ConnectJob& job, int operation, const std::string& instanceId,
                   const std::string& region, const std::string& volumeId) {
    auto object = ConnectObject(loader, job);
    if (!object) return 1;
    OperationCtx ctx;
    ctx.operation = operation;
    if (!object->GetVMInfoForVM("", instanceId, "", 0, 0, ctx.vm)) {
        std::fprintf(stderr, "error: instance %s not found (error %d): %s\n", instanceId.c_str(),
                     object->GetLastVMError(), object->GetLastVMErrorDetails().c_str());
        return 1;
    }
    if (!region.empty()) ctx.vm.region = region;
    if (!volumeId.empty()) NameSnapshotVolume(ctx.vm, volumeId);
    ctx.region = ctx.vm.region;
    if (!object->PerformVMOperation(ctx)) {
        std::fprintf(stderr, "error: operation %d on %s failed (error %d): %s\n", operation, instanceId.c_str(),
                     object->GetLastVMError(), object->GetLastVMErrorDetails().c_str());
        return 1;
    }
    std::printf("operation %d on %s (%s): done\n", operation, instanceId.c_str(), ctx.vm.name.c_str());
    if (!ctx.outText.empty()) std::printf("result: %s\n", ctx.outText.c_str());
    if (!ctx.vm.password.empty()) std::printf("password: %s\n", ctx.vm.password.c_str());
    object->Disconnect();
    return 0;
}
