// Instances: power, launch from an AMI, edit, terminate, password, console
// output and screenshot, and the status-check wait.
#include <algorithm>
#include <cstdio>

#include "bridge/BridgeImpl.h"
#include "cloudsim/Lineage.h"
#include "framework/FileUtils.h"

using namespace bridgeimpl;
using cloudsim::Image;
using cloudsim::Instance;
using cloudsim::NetworkInterface;
using cloudsim::Snapshot;
using cloudsim::State;
using cloudsim::Volume;
using VMInfoStructs::SVMInfo;
using cloudsim::BiosUuidFor;
using cloudsim::ConsoleFor;
using cloudsim::DefaultSubnet;
using cloudsim::IncorrectState;
using cloudsim::NextPrivateIp;
using cloudsim::StartInstance;

namespace {

// A baseline JPEG of 8x8 mid-grey pixels: one block whose DC and AC
// coefficients are all zero, coded with one-symbol Huffman tables.
const unsigned char kScreenshot[] = {
    0xFF, 0xD8,                                                                    // SOI
    0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00,  // APP0
    0xFF, 0xDB, 0x00, 0x43, 0x00,                                                  // DQT, table 0: all ones
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x08, 0x00, 0x08, 0x01, 0x01, 0x11, 0x00,  // SOF0: 8x8, 1 component
    0xFF, 0xC4, 0x00, 0x14, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00,  // DHT DC: "0" = 0
    0xFF, 0xC4, 0x00, 0x14, 0x10, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00,  // DHT AC: "0" = EOB
    0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00,                    // SOS
    0x3F,                                                                          // DC 0, EOB, padding
    0xFF, 0xD9,                                                                    // EOI
};

const char* const kNotStartable = "' is not in a state from which it can be started.";

bool IsGone(const Instance& inst) { return inst.state == "terminated"; }

// The instance addressed by id, or by its Name tag when id is empty.
template <class S>
auto FindInstance(S& s, const std::string& name, const std::string& id, const std::string& account,
                  const std::string& region, bool withTerminated, std::string& error)
    -> decltype(&s.instances.begin()->second) {
    if (!id.empty()) {
        auto* inst = FindOwned(s.instances, id, account, region);
        if (inst && (withTerminated || !IsGone(*inst))) return inst;
        error = InstanceNotFound(id);
        return nullptr;
    }
    for (auto& [iid, inst] : s.instances)
        if (inst.account == account && inst.region == region && !IsGone(inst) && TagOr(inst.tags, "Name", "") == name &&
            !name.empty())
            return &inst;
    error = InstanceNotFound(name);
    return nullptr;
}

}  // namespace

bool SimBackend::PowerOnVM(const std::string& name, const std::string& id, const std::string& region) {
    Impl& d = *m_impl;
    return d.Run("PowerOnVM", true, [&](std::string& error) {
        return d.Change([&](State& s) {
            std::string where;
            if (!d.ResolveRegion(s, region, where, error)) return false;
            Instance* inst = FindInstance(s, name, id, d.accountId, where, false, error);
            if (!inst) return false;
            if (inst->state == "running" || inst->state == "pending") return true;
            if (inst->state != "stopped") return Err(error, IncorrectState(inst->id, kNotStartable));
            StartInstance(s, *inst, d.Now(), d.Effect({inst->id}));
            return true;
        });
    });
}

bool SimBackend::PowerOffVM(const std::string& name, const std::string& id, const std::string& region) {
    Impl& d = *m_impl;
    return d.Run("PowerOffVM", true, [&](std::string& error) {
        return d.Change([&](State& s) {
            std::string where;
            if (!d.ResolveRegion(s, region, where, error)) return false;
            Instance* inst = FindInstance(s, name, id, d.accountId, where, false, error);
            if (!inst) return false;
            if (inst->state == "stopped" || inst->state == "stopping") return true;
            if (inst->state != "running" && inst->state != "pending")
                return Err(error, IncorrectState(inst->id, "' is not in a state from which it can be stopped."));
            inst->state = "stopping";
            inst->pending = {"stopped", d.Now() + s.timing.instanceStopMs,
                             d.Effect({inst->id}) == "stuck" ? "stuck" : ""};
            inst->statusCheck.clear();
            inst->statusPending = {};
            return true;
        });
    });
}

bool SimBackend::RebootVM(const std::string& name, const std::string& id, const std::string& region) {
    Impl& d = *m_impl;
    return d.Run("RebootVM", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            std::string where;
            if (!d.ResolveRegion(s, region, where, error)) return false;
            const Instance* inst = FindInstance(s, name, id, d.accountId, where, false, error);
            if (!inst) return false;
            if (inst->state != "running")
                return Err(error, IncorrectState(inst->id, "' is not in a state from which it can be rebooted."));
            return true;
        });
    });
}

bool SimBackend::CreateVirtualMachine(SVMInfo& vm, std::string& out, bool creationFlag) {
    Impl& d = *m_impl;
    return d.Run("CreateVirtualMachine", true, [&](std::string& error) {
        Instance inst;
        bool ok = d.Change([&](State& s) {
            std::string where;
            if (!d.ResolveRegion(s, vm.region, where, error)) return false;
            const cloudsim::Region& region = *s.FindRegion(where);
            std::string zone = vm.zone.empty() && !region.zones.empty() ? region.zones.front() : vm.zone;
            const cloudsim::Region* zoneRegion = s.RegionOfZone(zone);
            if (!zoneRegion || zoneRegion->name != where) return Err(error, InvalidZone(zone));
            if (vm.sourceId.empty())
                return Err(error, "MissingParameter: The request must contain the parameter ImageId");
            const Image* image = FindVisible(s.images, vm.sourceId, d.accountId, where);
            if (!image || image->state == "deregistered") return Err(error, ImageNotFound(vm.sourceId));
            if (image->state != "available")
                return Err(error, "InvalidAMIID.Unavailable: The image id '[" + image->id + "]' is not available (" +
                                      image->state + ")");
            std::string type = !vm.instanceType.empty()      ? vm.instanceType
                               : !image->instanceType.empty() ? image->instanceType
                                                              : "t3.micro";
            if (!cloudsim::CheckOffered(s, where, type, error)) return false;
            std::string keyName = vm.keyPairs.empty() ? "" : vm.keyPairs.front().name;
            if (!keyName.empty()) {
                bool known = false;
                for (const auto& k : s.keyPairs)
                    known |= k.name == keyName && k.account == d.accountId && k.region == where;
                if (!known) return Err(error, "InvalidKeyPair.NotFound: The key pair '" + keyName + "' does not exist");
            }
            const cloudsim::Subnet* subnet = nullptr;
            std::string subnetId = vm.networkCards.empty() ? "" : vm.networkCards.front().subnetId;
            if (!subnetId.empty()) {
                subnet = FindOwned(s.subnets, subnetId, d.accountId, where);
                if (!subnet)
                    return Err(error, "InvalidSubnetID.NotFound: The subnet ID '" + subnetId + "' does not exist");
            } else {
                subnet = DefaultSubnet(s, d.accountId, where, zone);
            }
            int64_t now = d.Now();
            inst.id = s.NewId("i");
            inst.account = d.accountId;
            inst.region = where;
            inst.zone = zone;
            inst.instanceType = type;
            inst.platform = image->platform;
            inst.amiId = image->id;
            inst.biosUuid = BiosUuidFor(inst.id);
            inst.virtualizationType = image->virtualizationType;
            inst.keyName = keyName;
            if (inst.platform == "windows") inst.password = "Pw-" + inst.id.substr(2, 12) + "!";
            inst.consoleOutput = ConsoleFor(inst);
            inst.launchTimeMs = now;
            if (!vm.name.empty() && !ApplyTag(inst.tags, "Name", vm.name, true, error)) return false;
            NetworkInterface nic;
            nic.id = s.NewId("eni");
            if (subnet) {
                nic.subnetId = subnet->id;
                nic.privateIp = NextPrivateIp(s, *subnet);
            }
            nic.macAddress = "0e:" + nic.id.substr(5, 2) + ":" + nic.id.substr(7, 2) + ":" + nic.id.substr(9, 2) +
                             ":" + nic.id.substr(11, 2) + ":" + nic.id.substr(13, 2);
            inst.networkInterfaces.push_back(nic);
            for (const auto& snapId : image->snapshotIds) {
                const Snapshot* snap = FindIn(s.snapshots, snapId);
                if (!snap || snap->state != "completed")
                    return Err(error, "InvalidSnapshot.NotFound: The snapshot '" + snapId + "' of image " + image->id +
                                          " is not available");
                bool root = inst.volumeIds.empty();
                Volume v;
                v.id = s.NewId("vol");
                v.account = d.accountId;
                v.region = where;
                v.zone = zone;
                v.sizeBytes = snap->sizeBytes;
                v.type = snap->volumeType;
                v.iops = snap->iops;
                v.encrypted = snap->encrypted;
                v.kmsKeyId = snap->kmsKeyId;
                v.state = "in-use";
                v.attachedInstance = inst.id;
                v.attachedDevice = root ? image->rootDeviceName : NextFreeDevice(s, inst);
                v.deleteOnTermination = root;
                v.createdMs = now;
                v.snapshotId = snap->id;
                v.lineage = cloudsim::LineageOf(s, *snap);
                v.blocks = snap->blocks;
                s.volumes[v.id] = v;
                inst.volumeIds.push_back(v.id);
            }
            if (creationFlag) {
                inst.state = "stopped";
                inst.statusCheck.clear();
            } else {
                StartInstance(s, inst, now, d.Effect({inst.id, image->id}));
            }
            s.instances[inst.id] = inst;
            vm.region = where;
            vm.zone = zone;
            return true;
        });
        if (!ok) return false;
        vm.guid = out = inst.id;
        vm.instanceType = inst.instanceType;
        EvDebug::DebugLvl(kTag, 2, "launched %s from %s", inst.id.c_str(), inst.amiId.c_str());
        return true;
    });
}

bool SimBackend::EditVirtualMachine(SVMInfo& vm, std::string& out) {
    Impl& d = *m_impl;
    return d.Run("EditVirtualMachine", true, [&](std::string& error) {
        bool ok = d.Change([&](State& s) {
            std::string where;
            if (!d.ResolveRegion(s, vm.region, where, error)) return false;
            Instance* inst = FindInstance(s, "", vm.guid, d.accountId, where, false, error);
            if (!inst) return false;
            if (!vm.instanceType.empty() && vm.instanceType != inst->instanceType) {
                if (inst->state != "stopped")
                    return Err(error, IncorrectState(inst->id, "' is not in the 'stopped' state."));
                if (!cloudsim::CheckOffered(s, where, vm.instanceType, error)) return false;
                inst->instanceType = vm.instanceType;
            }
            if (!vm.name.empty() && !ApplyTag(inst->tags, "Name", vm.name, true, error)) return false;
            return true;
        });
        if (ok) out = vm.guid;
        return ok;
    });
}

bool SimBackend::DeleteVM(const std::string& name, const std::string& id, const std::string& region,
                                bool deleteVolumes, bool) {
    Impl& d = *m_impl;
    return d.Run("DeleteVM", true, [&](std::string& error) {
        return d.Change([&](State& s) {
            std::string where;
            if (!d.ResolveRegion(s, region, where, error)) return false;
            Instance* inst = FindInstance(s, name, id, d.accountId, where, true, error);
            if (!inst) return false;
            if (inst->state == "terminated" || inst->state == "shutting-down") return true;
            if (inst->disableApiTermination) return Err(error, cloudsim::TerminationProtected(inst->id));
            int64_t now = d.Now();
            std::string effect = d.Effect({inst->id});
            inst->state = "shutting-down";
            inst->pending = {"terminated", now + s.timing.instanceStopMs, effect == "stuck" ? "stuck" : ""};
            inst->statusCheck.clear();
            inst->statusPending = {};
            const std::vector<std::string> attached = inst->volumeIds;
            for (const auto& volId : attached) {
                Volume* v = FindIn(s.volumes, volId);
                if (!v) continue;
                if (deleteVolumes || v->deleteOnTermination) {
                    DropAttachment(s, *v);
                    StartDelete(s, *v, now, "");
                } else if (v->AttachmentState() != "detaching") {
                    StartDetach(s, *v, now, "");
                }
            }
            return true;
        });
    });
}

bool SimBackend::GetPassword(const std::string& name, const std::string& id, const std::string& keyName,
                                   std::string& password) {
    Impl& d = *m_impl;
    return d.Run("GetPassword", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            if (!d.CheckRegion(s, error)) return false;
            const Instance* inst = FindInstance(s, name, id, d.accountId, d.region, false, error);
            if (!inst) return false;
            if (inst->platform != "windows" || inst->password.empty())
                return Err(error, "PasswordDataUnavailable: No password is available for instance '" + inst->id + "'");
            if (keyName != inst->keyName) return Err(error, "InvalidParameterValue: key pair does not match");
            password = inst->password;
            return true;
        });
    });
}

bool SimBackend::LogConsoleOutput(const std::string& instanceId) {
    Impl& d = *m_impl;
    return d.Run("LogConsoleOutput", true, [&](std::string& error) {
        std::string text;
        bool ok = d.Look([&](const State& s) {
            if (!d.CheckRegion(s, error)) return false;
            const Instance* inst = FindInstance(s, "", instanceId, d.accountId, d.region, true, error);
            if (!inst) return false;
            text = inst->consoleOutput;
            return true;
        });
        if (ok)
            EvDebug::Debug(kTag, "Console output of instance [%s]:\n%s", instanceId.c_str(),
                           text.empty() ? "(no console output)" : text.c_str());
        return ok;
    });
}

bool SimBackend::SaveInstanceScreenshot(const std::string& instanceId, const std::string& file) {
    Impl& d = *m_impl;
    return d.Run("SaveInstanceScreenshot", true, [&](std::string& error) {
        bool ok = d.Look([&](const State& s) {
            if (!d.CheckRegion(s, error)) return false;
            const Instance* inst = FindInstance(s, "", instanceId, d.accountId, d.region, false, error);
            if (!inst) return false;
            if (inst->state != "running")
                return Err(error, IncorrectState(instanceId, "' is not in the 'running' state."));
            return true;
        });
        if (!ok) return false;
        std::string bytes(reinterpret_cast<const char*>(kScreenshot), sizeof kScreenshot);
        if (!FwFile::WriteAllAtomic(file, bytes)) return Err(error, "InternalError: cannot write " + file);
        return true;
    });
}

bool SimBackend::IsInstanceValidationtaskCompleted(const std::string& instanceId, bool& succeeded) {
    Impl& d = *m_impl;
    succeeded = false;
    bool done = false;
    std::string failure;
    bool ok = d.Run("IsInstanceValidationtaskCompleted", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            if (!d.CheckRegion(s, error)) return false;
            const Instance* inst = FindInstance(s, "", instanceId, d.accountId, d.region, false, error);
            if (!inst) return false;
            if (inst->state == "pending" || (inst->state == "running" && inst->statusCheck == "initializing"))
                return true;
            done = true;
            succeeded = inst->state == "running" && inst->statusCheck == "ok";
            if (inst->state != "running") {
                failure = IncorrectState(instanceId, "' is in the '" + inst->state + "' state.");
            } else if (!succeeded) {
                failure = "InstanceStatusImpaired: The status checks of instance '" + instanceId + "' failed";
            }
            return true;
        });
    });
    // A poll that fails ends the wait: done, without success.
    if (!ok) return true;
    if (!failure.empty()) d.Fail("IsInstanceValidationtaskCompleted", failure);
    return done;
}
