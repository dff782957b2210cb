// Restore operations: the instance the restored volumes go to, snapshot
// sharing, KMS key description and the Outpost of a subnet. AWS's rules and
// texts live in the simulated cloud (Instances, Snapshots, Kms); here are the
// requests, the waits a restore's launch goes through and the conversions.
#include <strings.h>

#include "bridge/BridgeImpl.h"
#include "framework/Clock.h"

using namespace bridgeimpl;
using cloudsim::Image;
using cloudsim::Instance;
using cloudsim::State;
using cloudsim::Volume;
using VMInfoStructs::SVMInfo;

namespace {

const int64_t kPollMs = 2000;
const int64_t kWaitLimitMs = 30LL * 60 * 1000;

template <class Impl>  // SimBackend::Impl, private to the backend
bool Launch(Impl& d, const State& sIn, State& s, SVMInfo& vm, const std::map<std::string, std::string>& tags,
            const std::string& region, std::vector<std::string>& warnings, std::string& instanceId,
            std::string& error) {
    (void)sIn;
    const cloudsim::Region& r = *s.FindRegion(region);
    cloudsim::LaunchRequest launch;
    launch.account = d.accountId;
    launch.region = region;
    launch.zone = vm.zone.empty() && !r.zones.empty() ? r.zones.front() : vm.zone;
    const Image* image =
        cloudsim::ImageToLaunch(s, vm.amiId, d.accountId, region, IsWindowsGuest(vm) ? "windows" : "linux", error);
    if (!image) return false;
    launch.imageId = image->id;
    launch.instanceType = strcasecmp(vm.instanceType.c_str(), "auto") == 0 ? "" : vm.instanceType;
    launch.subnetId = vm.networkCards.empty() ? "" : vm.networkCards.front().subnetId;
    // A card that names an interface asks for that one, as RunInstances'
    // NetworkInterfaceId does.
    if (!vm.networkCards.empty() && vm.networkCards.front().id.rfind("eni-", 0) == 0)
        launch.interfaceId = vm.networkCards.front().id;
    for (const auto& g : vm.securityGroups) launch.securityGroups.push_back(g.id.empty() ? g.name : g.id);
    launch.keyName = vm.keyPairs.empty() ? "" : vm.keyPairs.front().name;
    launch.ebsOptimized = vm.ebsOptimized;
    launch.disableApiTermination = vm.terminationProtection;
    launch.skipUnknown = true;
    Instance* inst = cloudsim::LaunchInstance(s, launch, d.Now(), d.Effect({image->id}), warnings, error);
    if (!inst) return false;
    for (const auto& [key, value] : tags)
        if (!ApplyTag(inst->tags, key, value, true, error)) return false;
    if (!vm.name.empty() && !ApplyTag(inst->tags, "Name", vm.name, true, error)) return false;
    if (!ApplyTag(inst->tags, "_QX_BACKUP_", "", true, error)) return false;
    instanceId = inst->id;
    vm.zone = launch.zone;
    vm.amiId = image->id;
    vm.instanceType = inst->instanceType;
    return true;
}

// Polls (framework clock) until done(state) says the wait is over: true
// when it ended in success, false with error otherwise (also on time-out).
template <class Impl, class Done>
bool WaitFor(Impl& d, const std::string& what, Done done, std::string& error) {
    const int64_t end = d.Now() + kWaitLimitMs;
    for (;;) {
        int outcome = 0;   // 0 not yet, 1 success, -1 failure
        d.Look([&](const State& s) {
            outcome = done(s, error);
            return true;
        });
        if (outcome != 0) return outcome > 0;
        if (d.Now() >= end)
            return Err(error, "RequestTimeout: " + what + " did not complete within " +
                                  std::to_string(kWaitLimitMs / 1000) + " seconds");
        FwClock::Get().SleepMs(kPollMs);
    }
}

template <class Impl>
bool WaitInstance(Impl& d, const std::string& id, const std::string& wanted, std::string& error) {
    return WaitFor(
        d, "instance " + id + " reaching '" + wanted + "'",
        [&](const State& s, std::string& err) {
            return cloudsim::InstanceWaitOutcome(FindIn(s.instances, id), id, wanted, err);
        },
        error);
}

}  // namespace

bool SimBackend::RestoreVirtualMachine(VMInfoStructs::SVMInfo& vm, bool osDiskExists,
                                             const std::map<std::string, std::string>& tags, bool reuseExisting) {
    Impl& d = *m_impl;
    std::vector<std::string> warnings;
    bool ok = d.Run("RestoreVirtualMachine", true, [&](std::string& error) {
        std::string where, id;
        bool started = d.Change([&](State& s) {
            if (!d.ResolveRegion(s, vm.region, where, error)) return false;
            if (!reuseExisting) return Launch(d, s, s, vm, tags, where, warnings, id, error);
            Instance* inst = cloudsim::FindInstance(s, "", vm.guid, d.accountId, where, false, error);
            if (!inst || !cloudsim::StopInstance(s, *inst, d.Now(), d.Effect({inst->id}), error)) return false;
            id = inst->id;
            return true;
        });
        if (!started) return false;
        vm.guid = id;
        vm.region = where;
        // RunInstances, then StopInstances once it runs, as AWS needs.
        if (!reuseExisting) {
            if (!WaitInstance(d, id, "running", error)) return false;
            if (!d.Change([&](State& s) { return cloudsim::StopInstance(s, s.instances.at(id), d.Now(), "", error); }))
                return false;
        }
        if (!WaitInstance(d, id, "stopped", error)) return false;
        // The root volume makes way for the restored one; restoring into an
        // instance, so does every volume at a device a restored disk takes.
        // Those are detached and kept: they are the instance's data.
        std::vector<std::string> moving;
        d.Change([&](State& s) {
            const Instance& inst = s.instances.at(id);
            std::vector<std::string> devices;
            if (osDiskExists) devices.push_back(RootDeviceOf(inst));
            if (reuseExisting)
                for (const auto& disk : vm.disks)
                    if (!disk.isOSDisk && !disk.deviceName.empty()) devices.push_back(disk.deviceName);
            for (const auto& device : devices) {
                Volume* v = const_cast<Volume*>(cloudsim::VolumeAtDevice(s, inst, device));
                if (!v) continue;
                moving.push_back(v->id);
                if (v->AttachmentState() != "detaching") StartDetach(s, *v, d.Now(), "");
            }
            return true;
        });
        for (const auto& volumeId : moving) {
            bool detached = WaitFor(
                d, "detaching volume " + volumeId,
                [&](const State& s, std::string& err) {
                    return cloudsim::DetachWaitOutcome(FindIn(s.volumes, volumeId), volumeId, err);
                },
                error);
            if (!detached) return false;
        }
        if (reuseExisting || moving.empty()) return true;
        const std::string rootId = moving.front();
        d.Change([&](State& s) {
            Volume* v = FindIn(s.volumes, rootId);
            if (v && v->state == "available") StartDelete(s, *v, d.Now(), "");
            return true;
        });
        return true;
    });
    if (ok) {
        std::string text;
        for (const auto& w : warnings) text += (text.empty() ? "" : "; ") + w;
        d.lastError = text;   // after Run, which clears it on success
        EvDebug::DebugLvl(kTag, 2, "restored instance %s from %s%s%s", vm.guid.c_str(), vm.amiId.c_str(),
                          text.empty() ? "" : "; warnings: ", text.c_str());
    }
    return ok;
}

bool SimBackend::ShareSnapshot(const std::string& snapshotId, const std::string& accountId) {
    Impl& d = *m_impl;
    return d.Run("ShareSnapshot", true, [&](std::string& error) {
        return d.Change([&](State& s) {
            if (!d.CheckRegion(s, error)) return false;
            cloudsim::Snapshot* snap = FindOwned(s.snapshots, snapshotId, d.accountId, d.region);
            if (!snap) return Err(error, SnapshotNotFound(snapshotId));
            return cloudsim::ShareSnapshot(s, *snap, accountId, error);
        });
    });
}

bool SimBackend::UnshareSnapshot(const std::string& snapshotId, const std::string& accountId) {
    Impl& d = *m_impl;
    return d.Run("UnshareSnapshot", true, [&](std::string& error) {
        return d.Change([&](State& s) {
            if (!d.CheckRegion(s, error)) return false;
            cloudsim::Snapshot* snap = FindOwned(s.snapshots, snapshotId, d.accountId, d.region);
            if (!snap) return Err(error, SnapshotNotFound(snapshotId));
            return cloudsim::UnshareSnapshot(*snap, accountId, error);
        });
    });
}

bool SimBackend::DescribeEncryptionKey(const std::string& region, const std::string& keyId, std::string& keyArn,
                                             bool& notFound, std::string& keyState, std::string* description) {
    Impl& d = *m_impl;
    notFound = false;
    return d.Run("DescribeEncryptionKey", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            std::string where;
            if (!d.ResolveRegion(s, region, where, error)) return false;
            cloudsim::KeyDescription key;
            if (!cloudsim::DescribeKmsKey(s, d.accountId, where, keyId, key, notFound, error)) return false;
            if (notFound) return true;
            keyArn = key.arn;
            keyState = key.state;
            if (description) *description = key.description;
            return true;
        });
    });
}

bool SimBackend::GetOutpostAccountARNForSubnet(const std::string& subnetId, const std::string& region,
                                                     std::string& arn) {
    Impl& d = *m_impl;
    return d.Run("GetOutpostAccountARNForSubnet", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            std::string where;
            if (!d.ResolveRegion(s, region, where, error)) return false;
            const cloudsim::Subnet* subnet = FindOwned(s.subnets, subnetId, d.accountId, where);
            if (!subnet) return Err(error, cloudsim::SubnetNotFound(subnetId));
            arn = subnet->outpostArn;
            return true;
        });
    });
}
