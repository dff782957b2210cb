// The previous replica: found before a run (a running one stops it), and
// removed once the new one exists, keeping the network interfaces the new
// replica's cards reuse. A replica that cannot be deleted stays registered
// for a later clean-up.
#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "common/RegionScope.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"

namespace {
// What the object's look-up reads of the replica to remove: its disks and
// its network interfaces (0x20000073).
constexpr ULONGLONG kReplicaNetworkMask = 536871027ULL;
constexpr char kEC2NetworkPlatform[] = "EC2";
}  // namespace

bool CAmazonInfo::LookForReplicatedVM(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    RestoreCtx& out = ctx.Out();
    out.replicatedVMExists = false;
    const std::string replica = ReplicaIdOf(ctx);
    if (!replica.empty()) {
        SVMInfo vm;
        const bool found = GetVMInfoForVM("", replica, ctx.destZone, 0, 0, vm) != 0 && vm.guid == replica;
        out.replicatedVMExists = found;
        EvDebug::Debug(fn, "Replicated VM Exists [%s]", found ? "True" : "False");
        if (!found) {
            EvDebug::Debug(fn, "Replicated Instance [%s] does not exists .", replica.c_str());
        } else if (vm.powerState == 1) {
            EvDebug::Error(fn,
                           "Replicated Instance [%s] already exists and it is powered on. Not proceeding with "
                           "replication.",
                           replica.c_str());
            SetLastVMError(AmazonErrors::kReplicaPoweredOn,
                           "Replicated Instance [" + replica + "] already exists and it is powered on. Not "
                           "proceeding with replication.");
            return false;
        } else {
            EvDebug::Debug(fn,
                           "Replicated Instance [%s] exists and it is powered off. It will be deleted once current "
                           "replication completes.",
                           replica.c_str());
        }
    }
    out.vmCreated = false;
    out.createdInstanceId.clear();
    if (ctx.overwriteCheck && !HandleOverwriteOption(ctx, ctx.destRegion)) {
        SetLastVMError(AmazonErrors::kReplicaOverwrite);
        return false;
    }
    return true;
}

bool CAmazonInfo::DeconfigureNetwork(const RestoreCtx& ctx) {
    EvDebug::Debug(__PRETTY_FUNCTION__, "Deconfiguring previously replicated VM if any.");
    const std::string old = ReplicaIdOf(ctx);
    if (ctx.failback || !ctx.replicatedVMExists || old.empty()) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Replicated VM does not exist.");
        return true;
    }
    ctx.Out().vmGuid.clear();
    return _RemoveReplica(ctx, old);
}

bool CAmazonInfo::_RemoveReplica(const RestoreCtx& ctx, const std::string& oldId) {
    const char* const fn = __PRETTY_FUNCTION__;
    // Never the instance this run restored into or launched.
    if (oldId.empty() || oldId == ctx.vmGuid) return true;
    const AmazonCommon::BridgeRegionScope inDestination(*m_pSourceBridge, ctx.destRegion);
    SVMInfo old;
    GetVMInfoForVM("", oldId, "", kReplicaNetworkMask, 0, old);
    // The deletion detaches and deletes the volumes one by one before the
    // instance goes: a job that dies or fails half-way must leave the rest
    // registered, or a detached volume is left with nothing to name it.
    const std::string guid = FwGuid::New();
    const std::string account = SourceAccountForCleaner();
    if (!m_cleaner.RegisterVM(VM_CLEANER_RESTORE, guid, ctx.destRegion))
        EvDebug::Error(fn, "Failed to register temp cleaner [%s]", guid.c_str());
    if (!m_cleaner.RegisterCreatedVM(VM_CLEANER_RESTORE, guid, oldId, ctx.destRegion, account))
        EvDebug::Error(fn, "Failed to register instance: [%s] with the temp cleaner", oldId.c_str());
    for (const auto& disk : old.disks)
        if (!disk.volumeId.empty()) m_cleaner.RegisterDisk(VM_CLEANER_RESTORE, guid, disk.volumeId, ctx.destRegion, account);
    // An interface a card of the new replica reuses outlives the instance;
    // when none is reused they all go with it. One kept and deleted
    // afterwards would still be in use while the instance shuts down, and
    // the deletion refused would leave it for good.
    const bool ec2 = ctx.networkPlatform == kEC2NetworkPlatform;
    std::vector<std::string> unused;
    for (const auto& nic : old.networkCards) {
        bool reused = false;
        for (const auto& card : ctx.networkCards) {
            EvDebug::Debug(fn, "old network interface [%s], new network interface [%s]", nic.id.c_str(),
                           card.id.c_str());
            reused = reused || card.id == nic.id;
        }
        if (!reused) unused.push_back(nic.id);
    }
    const bool allGo = ec2 || unused.size() == old.networkCards.size();
    if (!DeleteInstance(oldId, true, allGo, true, true)) {
        EvDebug::Debug(fn, "Registered a temporary GUID with the cleaner: [%s]", guid.c_str());
        // Its interfaces are still attached to it; they go with it later.
        return true;
    }
    m_cleaner.UnRegisterVM(VM_CLEANER_RESTORE, guid, true);
    if (allGo) return true;
    for (const auto& id : unused) {
        if (AmazonCommon::BridgeCall(
                *m_pSourceBridge, fn, [&] { return m_pSourceBridge->DeleteNetworkInterface(id); },
                "Failed to delete network interface [%s], Error [%s]", id.c_str()))
            EvDebug::Debug(fn, "Successfuly deleted network interface [%s]", id.c_str());
    }
    return true;
}
