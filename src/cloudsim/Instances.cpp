// EC2 instances, attachments and network: JSON, checks, settling, rules and
// error texts.
#include "cloudsim/Instances.h"

#include <algorithm>
#include <cstdio>

#include "cloudsim/CloudState.h"
#include "cloudsim/Lineage.h"
#include "cloudsim/Ownership.h"
#include "cloudsim/Tags.h"

namespace cloudsim {

using namespace schema;

const std::vector<InstanceTypeInfo>& BuiltinInstanceTypes() {
    static const std::vector<InstanceTypeInfo> table = {
        {"t2.micro", 1, 1024},    {"t3.micro", 2, 1024},     {"t3.small", 2, 2048},    {"t3.medium", 2, 4096},
        {"t3.large", 2, 8192},    {"m5.large", 2, 8192},     {"m5.xlarge", 4, 16384},  {"m5.2xlarge", 8, 32768},
        {"c5.large", 2, 4096},    {"c5.xlarge", 4, 8192},    {"c5.2xlarge", 8, 16384}, {"r5.large", 2, 16384},
        {"r5.xlarge", 4, 32768},
    };
    return table;
}

const std::vector<std::string>& DefaultOfferedTypes() {
    static const std::vector<std::string> offered = {"t2.micro",  "t3.micro",  "t3.small",   "t3.medium",
                                                     "t3.large",  "m5.large",  "m5.xlarge",  "m5.2xlarge",
                                                     "c5.large",  "c5.xlarge", "c5.2xlarge", "r5.large"};
    return offered;
}

namespace {

const Table<NetworkInterface>& NicTable() {
    using N = NetworkInterface;
    static const Table<N> table{{Required("id", &N::id), Member("subnetId", &N::subnetId),
                                 Member("privateIp", &N::privateIp), Member("macAddress", &N::macAddress),
                                 Member("deleteOnTermination", &N::deleteOnTermination)}};
    return table;
}

}  // namespace

const Table<Instance>& InstanceTable() {
    using I = Instance;
    static const Table<I> table{
        {Required("id", &I::id), Member("account", &I::account), Member("region", &I::region),
         Member("zone", &I::zone), Member("instanceType", &I::instanceType), Member("state", &I::state),
         Member("platform", &I::platform), Member("amiId", &I::amiId), Member("biosUuid", &I::biosUuid),
         Member("virtualizationType", &I::virtualizationType), Member("outpostArn", &I::outpostArn),
         IfSet("rootDeviceName", &I::rootDeviceName), IfSet("securityGroupIds", &I::securityGroupIds),
         Custom<I>(
             "disableApiTermination", [](const Fields& in, I& i) { in.Get("disableApiTermination", i.disableApiTermination); },
             [](const I& i, json& out) {
                 if (i.disableApiTermination) out["disableApiTermination"] = true;
             }),
         Custom<I>(
             "ebsOptimized", [](const Fields& in, I& i) { in.Get("ebsOptimized", i.ebsOptimized); },
             [](const I& i, json& out) {
                 if (i.ebsOptimized) out["ebsOptimized"] = true;
             }),
         Member("isTemplate", &I::isTemplate), Member("volumeIds", &I::volumeIds), Member("tags", &I::tags),
         Member("keyName", &I::keyName), Member("password", &I::password),
         Member("consoleOutput", &I::consoleOutput),
         Custom<I>(
             "statusCheck",
             [](const Fields& in, I& i) {
                 // A seeded machine that is not running has no status checks.
                 if (i.state != "running") i.statusCheck.clear();
                 in.Get("statusCheck", i.statusCheck);
             },
             [](const I& i, json& out) { out["statusCheck"] = i.statusCheck; }),
         ListOf("networkInterfaces", &I::networkInterfaces, NicTable()),
         Member("launchTimeMs", &I::launchTimeMs), PendingField("pending", &I::pending),
         PendingField("statusPending", &I::statusPending)}};
    return table;
}

const Table<KeyPair>& KeyPairTable() {
    using K = KeyPair;
    static const Table<K> table{{Required("name", &K::name), Member("account", &K::account),
                                 Member("region", &K::region), Member("fingerprint", &K::fingerprint)}};
    return table;
}

const Table<Vpc>& VpcTable() {
    static const Table<Vpc> table{{Required("id", &Vpc::id), Member("account", &Vpc::account),
                                   Member("region", &Vpc::region), Member("name", &Vpc::name),
                                   Required("cidr", &Vpc::cidr)}};
    return table;
}

const Table<Subnet>& SubnetTable() {
    using S = Subnet;
    static const Table<S> table{{Required("id", &S::id), Member("account", &S::account),
                                 Member("region", &S::region), Member("vpcId", &S::vpcId), Member("name", &S::name),
                                 Member("cidr", &S::cidr), Member("zone", &S::zone),
                                 IfSet("outpostArn", &S::outpostArn)}};
    return table;
}

const Table<SecurityGroup>& SecurityGroupTable() {
    using G = SecurityGroup;
    static const Table<G> table{{Required("id", &G::id), Member("account", &G::account),
                                 Member("region", &G::region), Required("vpcId", &G::vpcId),
                                 Member("name", &G::name)}};
    return table;
}

const Table<InstanceTypeInfo>& InstanceTypeTable() {
    using T = InstanceTypeInfo;
    static const Table<T> table{
        {Required("name", &T::name), Member("cpus", &T::cpus), Member("memoryMB", &T::memoryMB)}};
    return table;
}

void CheckInstances(State& s) {
    for (const auto& [id, inst] : s.instances) {
        CheckPlacement(s, "instance " + id, inst.account, inst.region, inst.zone);
        for (const auto& volId : inst.volumeIds) {
            auto it = s.volumes.find(volId);
            if (it == s.volumes.end()) Fail("instance " + id, "lists unknown volume " + volId);
            Volume& v = it->second;
            if (v.attachedInstance.empty()) {
                v.attachedInstance = id;
                if (v.state == "available") v.state = "in-use";
            } else if (v.attachedInstance != id) {
                Fail("instance " + id, "lists volume " + volId + " attached to " + v.attachedInstance);
            }
        }
        // A terminated instance's interfaces may name subnets deleted since.
        for (const auto& nic : inst.networkInterfaces)
            if (inst.state != "terminated" && !nic.subnetId.empty() && !s.subnets.count(nic.subnetId))
                Fail("instance " + id, "interface " + nic.id + " names unknown subnet " + nic.subnetId);
    }
}

void CheckNetwork(State& s) {
    for (const auto& [id, vpc] : s.vpcs) {
        CheckAccountKnown(s, "vpc " + id, vpc.account);
        CheckRegionKnown(s, "vpc " + id, vpc.region);
    }
    for (auto& [id, subnet] : s.subnets) {
        auto vpc = s.vpcs.find(subnet.vpcId);
        if (vpc == s.vpcs.end()) Fail("subnet " + id, "names unknown vpc '" + subnet.vpcId + "'");
        if (subnet.account.empty()) subnet.account = vpc->second.account;
        if (subnet.region.empty()) subnet.region = vpc->second.region;
    }
    for (auto& [id, group] : s.securityGroups) {
        auto vpc = s.vpcs.find(group.vpcId);
        if (vpc == s.vpcs.end()) Fail("security group " + id, "names unknown vpc '" + group.vpcId + "'");
        if (group.account.empty()) group.account = vpc->second.account;
        if (group.region.empty()) group.region = vpc->second.region;
    }
    for (const auto& k : s.keyPairs) {
        CheckAccountKnown(s, "key pair " + k.name, k.account);
        CheckRegionKnown(s, "key pair " + k.name, k.region);
    }
}

void SettleInstances(State& s, int64_t now) {
    for (auto& [id, inst] : s.instances) {
        if (inst.pending.Due(now)) {
            inst.state = inst.pending.to;
            inst.pending = {};
            if (inst.state != "running") {
                inst.statusCheck.clear();
                inst.statusPending = {};
            }
        }
        if (inst.state == "running" && inst.statusPending.Due(now)) {
            inst.statusCheck = inst.statusPending.fault == "error" ? "impaired" : "ok";
            inst.statusPending = {};
        }
    }
}

void DropAttachment(State& s, Volume& v) {
    auto it = s.instances.find(v.attachedInstance);
    if (it != s.instances.end()) {
        auto& ids = it->second.volumeIds;
        ids.erase(std::remove(ids.begin(), ids.end(), v.id), ids.end());
    }
    v.attachedInstance.clear();
    v.attachedDevice.clear();
}

void StartDetach(State& s, Volume& v, int64_t now, const std::string& fault) {
    v.pending = {"available", now + s.timing.detachMs, fault};
}

std::string RootDeviceOf(const Instance& inst) {
    if (!inst.rootDeviceName.empty()) return inst.rootDeviceName;
    return inst.platform == "windows" ? "/dev/sda1" : "/dev/xvda";
}

bool IsRootDevice(const std::string& device) { return device == "/dev/xvda" || device == "/dev/sda1"; }

std::string NextFreeDevice(const State& s, const Instance& inst) {
    for (char c = 'f'; c <= 'z'; ++c) {
        std::string device = std::string("/dev/sd") + c;
        if (!VolumeAtDevice(s, inst, device)) return device;
    }
    return "";
}

const Volume* VolumeAtDevice(const State& s, const Instance& inst, const std::string& device) {
    for (const auto& volId : inst.volumeIds) {
        auto it = s.volumes.find(volId);
        if (it != s.volumes.end() && it->second.attachedDevice == device) return &it->second;
    }
    return nullptr;
}

bool IsRootVolume(const State& s, const Volume& v) {
    auto it = s.instances.find(v.attachedInstance);
    return it != s.instances.end() && !it->second.volumeIds.empty() && it->second.volumeIds.front() == v.id;
}

bool CheckRootAttach(const State& s, const Instance& inst, std::string& error) {
    if (inst.state != "stopped") {
        error = "IncorrectState: The instance '" + inst.id + "' is not in the 'stopped' state.";
        return false;
    }
    std::string root = RootDeviceOf(inst);
    if (VolumeAtDevice(s, inst, root)) {
        error = "InvalidParameterValue: Attachment point " + root + " is already in use";
        return false;
    }
    return true;
}

bool CheckOutpostAttach(const Volume& v, const Instance& inst, std::string& error) {
    if (v.outpostArn.empty() || v.outpostArn == inst.outpostArn) return true;
    error = "InvalidParameterValue: The volume '" + v.id + "' is on Outpost " + v.outpostArn +
            " and can be attached only to an instance on that Outpost";
    return false;
}

bool AttachVolume(State& s, const std::string& volumeId, const std::string& instanceId, const std::string& account,
                  const std::string& region, const std::string& device, bool asRoot, int64_t now,
                  const std::string& effect, bool& conflict, std::string& error) {
    Volume* v = FindOwned(s.volumes, volumeId, account, region);
    if (!v) {
        error = VolumeNotFound(volumeId);
        return false;
    }
    Instance* inst = FindOwned(s.instances, instanceId, account, region);
    if (!inst || inst->state == "terminated") {
        error = InstanceNotFound(instanceId);
        return false;
    }
    if (inst->state == "shutting-down") {
        error = IncorrectState(instanceId, "' is not in a valid state for this operation.");
        return false;
    }
    if (!v->attachedInstance.empty()) {
        conflict = true;
        error = VolumeInUse(volumeId);
        return false;
    }
    if (v->state != "available") {
        error = "IncorrectState: " + volumeId + " is not 'available'.";
        return false;
    }
    if (v->zone != inst->zone) {
        error = "InvalidVolume.ZoneMismatch: The volume '" + volumeId +
                "' is not in the same availability zone as instance '" + instanceId + "'";
        return false;
    }
    if (!CheckOutpostAttach(*v, *inst, error)) return false;
    // The root volume goes at the instance's root device, whatever device
    // the caller names.
    if (asRoot && !CheckRootAttach(s, *inst, error)) return false;
    std::string dev = asRoot ? RootDeviceOf(*inst) : !device.empty() ? device : NextFreeDevice(s, *inst);
    if (dev.empty()) {
        error = "AttachmentLimitExceeded: Instance '" + instanceId + "' has no free device name";
        return false;
    }
    if (VolumeAtDevice(s, *inst, dev)) {
        conflict = true;
        error = "InvalidParameterValue: Attachment point " + dev + " is already in use";
        return false;
    }
    v->attachedInstance = instanceId;
    v->attachedDevice = dev;
    v->deleteOnTermination = false;
    v->state = "in-use";   // attachment "attaching" until pending completes
    v->pending = {"in-use", now + s.timing.attachMs, effect};
    auto& ids = inst->volumeIds;
    if (asRoot || dev == RootDeviceOf(*inst)) {
        ids.insert(ids.begin(), volumeId);
    } else {
        ids.push_back(volumeId);
    }
    return true;
}

bool DetachVolume(State& s, Volume& v, bool force, int64_t now, const std::string& effect, std::string& error) {
    if (v.attachedInstance.empty()) {
        error = "IncorrectState: Volume '" + v.id + "' is in the '" + v.state + "' state.";
        return false;
    }
    if (v.AttachmentState() == "detaching" && !force) return true;
    StartDetach(s, v, now, effect);
    return true;
}

std::string IncorrectState(const std::string& id, const std::string& what) {
    return "IncorrectInstanceState: The instance '" + id + what;
}

void BootInstance(State& s, Instance& inst, int64_t now, const std::string& effect) {
    inst.state = "pending";
    inst.pending = {"running", now + s.timing.instanceStartMs, effect == "stuck" ? "stuck" : ""};
    inst.statusCheck = "initializing";
    inst.statusPending = {"ok", inst.pending.readyAtMs + s.timing.statusCheckMs, effect == "error" ? "error" : ""};
}

std::string BiosUuidFor(const std::string& id) {
    std::string hex = id.substr(id.find('-') + 1);
    hex += hex;
    return "ec2" + hex.substr(0, 5) + "-" + hex.substr(5, 4) + "-4" + hex.substr(9, 3) + "-8" + hex.substr(12, 3) +
           "-" + hex.substr(15, 12);
}

std::string ConsoleFor(const Instance& inst) {
    if (inst.platform == "windows")
        return "Windows is Ready to use\r\nEC2 instance " + inst.id + " (" + inst.instanceType + ")\r\n";
    return "[    0.000000] Linux version 6.1.0-aws\n[    2.113450] cloud-init: instance " + inst.id +
           " booted\nlogin: ";
}

std::string NextPrivateIp(const State& s, const Subnet& subnet) {
    unsigned a = 0, b = 0, c = 0, d0 = 0;
    if (std::sscanf(subnet.cidr.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d0) != 4) return "";
    int used = 0;
    for (const auto& [id, inst] : s.instances)
        for (const auto& nic : inst.networkInterfaces) used += nic.subnetId == subnet.id;
    return std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c) + "." +
           std::to_string(d0 + 10 + used);
}

const Subnet* DefaultSubnet(const State& s, const std::string& account, const std::string& region,
                            const std::string& zone) {
    const Subnet* any = nullptr;
    for (const auto& [id, subnet] : s.subnets) {
        if (subnet.account != account || subnet.region != region) continue;
        if (subnet.zone == zone) return &subnet;
        if (!any && subnet.zone.empty()) any = &subnet;
    }
    return any;
}

bool CheckOffered(const State& s, const std::string& region, const std::string& type, std::string& error) {
    std::vector<std::string> offered = s.OfferedTypes(region);
    if (std::find(offered.begin(), offered.end(), type) != offered.end()) return true;
    error = "InvalidParameterValue: Invalid value '" + type + "' for InstanceType.";
    return false;
}

bool CheckLaunchType(const State& s, const std::string& region, const std::string& type, std::string& error) {
    if (!s.FindInstanceType(type)) {
        error = "InvalidParameterValue: Invalid value '" + type + "' for InstanceType.";
        return false;
    }
    std::vector<std::string> offered = s.OfferedTypes(region);
    if (std::find(offered.begin(), offered.end(), type) != offered.end()) return true;
    error = "Unsupported: Your requested instance type (" + type +
            ") is not supported in your requested region (" + region + ").";
    return false;
}

const Image* BaseImageFor(const State& s, const std::string& region, const std::string& platform) {
    static const char* const kVendors[] = {"137112412989" /* amazon */, "801119661308" /* microsoft */};
    const Image* best = nullptr;
    for (const auto& [id, image] : s.images) {
        if (!image.isPublic || image.region != region || image.state != "available" || image.platform != platform)
            continue;
        if (std::find(std::begin(kVendors), std::end(kVendors), image.account) == std::end(kVendors)) continue;
        if (!best || image.createdMs < best->createdMs) best = &image;
    }
    return best;
}

const Image* ImageToLaunch(const State& s, const std::string& imageId, const std::string& account,
                           const std::string& region, const std::string& platform, std::string& error) {
    if (!imageId.empty()) {
        const Image* image = FindVisible(s.images, imageId, account, region);
        if (image && image->state == "available") return image;
    }
    const Image* base = BaseImageFor(s, region, platform);
    if (!base)
        error = imageId.empty() ? MissingParameter("the parameter ImageId") : ImageNotFound(imageId);
    return base;
}

int InstanceWaitOutcome(const Instance* inst, const std::string& id, const std::string& wanted, std::string& error) {
    if (!inst) {
        error = InstanceNotFound(id);
        return -1;
    }
    if (inst->state == wanted) return 1;
    if (inst->pending.Active() || inst->state == "pending" || inst->state == "stopping") return 0;
    error = IncorrectState(id, "' is in the '" + inst->state + "' state.");
    return -1;
}

int DetachWaitOutcome(const Volume* v, const std::string& id, std::string& error) {
    if (!v || v->attachedInstance.empty()) return 1;
    if (v->state != "error") return 0;
    error = "IncorrectState: volume " + id + " failed";
    return -1;
}

bool StopInstance(State& s, Instance& inst, int64_t now, const std::string& effect, std::string& error) {
    if (inst.state == "stopped" || inst.state == "stopping") return true;
    if (inst.state != "running" && inst.state != "pending") {
        error = IncorrectState(inst.id, "' is not in a state from which it can be stopped.");
        return false;
    }
    inst.state = "stopping";
    inst.pending = {"stopped", now + s.timing.instanceStopMs, effect == "stuck" ? "stuck" : ""};
    inst.statusCheck.clear();
    inst.statusPending = {};
    return true;
}

bool StartInstance(State& s, Instance& inst, int64_t now, const std::string& effect, std::string& error) {
    if (inst.state == "running" || inst.state == "pending") return true;
    if (inst.state != "stopped") {
        error = IncorrectState(inst.id, "' is not in a state from which it can be started.");
        return false;
    }
    BootInstance(s, inst, now, effect);
    return true;
}

bool RebootInstance(const Instance& inst, std::string& error) {
    if (inst.state == "running") return true;
    error = IncorrectState(inst.id, "' is not in a state from which it can be rebooted.");
    return false;
}

bool TerminateInstance(State& s, Instance& inst, bool deleteVolumes, int64_t now, const std::string& effect,
                       std::string& error) {
    if (inst.state == "terminated" || inst.state == "shutting-down") return true;
    if (inst.disableApiTermination) {
        error = TerminationProtected(inst.id);
        return false;
    }
    inst.state = "shutting-down";
    inst.pending = {"terminated", now + s.timing.instanceStopMs, effect == "stuck" ? "stuck" : ""};
    inst.statusCheck.clear();
    inst.statusPending = {};
    const std::vector<std::string> attached = inst.volumeIds;
    for (const auto& volId : attached) {
        auto it = s.volumes.find(volId);
        if (it == s.volumes.end()) continue;
        Volume& v = it->second;
        if (deleteVolumes || v.deleteOnTermination) {
            DropAttachment(s, v);
            StartDelete(s, v, now, "");
        } else if (v.AttachmentState() != "detaching") {
            StartDetach(s, v, now, "");
        }
    }
    return true;
}

bool ModifyInstanceType(const State& s, Instance& inst, const std::string& type, std::string& error) {
    if (type.empty() || type == inst.instanceType) return true;
    if (inst.state != "stopped") {
        error = IncorrectState(inst.id, "' is not in the 'stopped' state.");
        return false;
    }
    if (!CheckOffered(s, inst.region, type, error)) return false;
    inst.instanceType = type;
    return true;
}

bool GetPasswordData(const Instance& inst, const std::string& keyName, std::string& password, std::string& error) {
    if (inst.platform != "windows" || inst.password.empty()) {
        error = "PasswordDataUnavailable: No password is available for instance '" + inst.id + "'";
        return false;
    }
    if (keyName != inst.keyName) {
        error = "InvalidParameterValue: key pair does not match";
        return false;
    }
    password = inst.password;
    return true;
}

bool CheckScreenshot(const Instance& inst, std::string& error) {
    if (inst.state == "running") return true;
    error = IncorrectState(inst.id, "' is not in the 'running' state.");
    return false;
}

bool StatusChecksOver(const Instance& inst, bool& succeeded, std::string& failure) {
    succeeded = false;
    if (inst.state == "pending" || (inst.state == "running" && inst.statusCheck == "initializing")) return false;
    succeeded = inst.state == "running" && inst.statusCheck == "ok";
    if (inst.state != "running") {
        failure = IncorrectState(inst.id, "' is in the '" + inst.state + "' state.");
    } else if (!succeeded) {
        failure = "InstanceStatusImpaired: The status checks of instance '" + inst.id + "' failed";
    }
    return true;
}

const Instance* FindInstance(const State& s, const std::string& name, const std::string& id,
                             const std::string& account, const std::string& region, bool withTerminated,
                             std::string& error) {
    if (!id.empty()) {
        const Instance* inst = FindOwned(s.instances, id, account, region);
        if (inst && (withTerminated || inst->state != "terminated")) return inst;
        error = InstanceNotFound(id);
        return nullptr;
    }
    for (const auto& [iid, inst] : s.instances) {
        if (inst.account != account || inst.region != region || inst.state == "terminated" || name.empty()) continue;
        auto tag = inst.tags.find("Name");
        if (tag != inst.tags.end() && tag->second == name) return &inst;
    }
    error = InstanceNotFound(name);
    return nullptr;
}

Instance* FindInstance(State& s, const std::string& name, const std::string& id, const std::string& account,
                       const std::string& region, bool withTerminated, std::string& error) {
    const State& view = s;
    return const_cast<Instance*>(FindInstance(view, name, id, account, region, withTerminated, error));
}

namespace {

std::string MacFor(const std::string& nicId) {
    return "0e:" + nicId.substr(5, 2) + ":" + nicId.substr(7, 2) + ":" + nicId.substr(9, 2) + ":" +
           nicId.substr(11, 2) + ":" + nicId.substr(13, 2);
}

// The group named by id or by name in vpc; null when none is.
const SecurityGroup* FindGroup(const State& s, const std::string& account, const std::string& region,
                               const std::string& vpcId, const std::string& idOrName) {
    for (const auto& [id, g] : s.securityGroups)
        if (g.account == account && g.region == region && (id == idOrName || (g.name == idOrName && g.vpcId == vpcId)))
            return &g;
    return nullptr;
}

}  // namespace

namespace {

// The AMI a launch names: one account may use in region (its own or a
// public one), available.
const Image* LaunchableImage(const State& s, const std::string& imageId, const std::string& account,
                             const std::string& region, std::string& error) {
    const Image* image = FindVisible(s.images, imageId, account, region);
    if (!image || image->state == "deregistered") {
        error = ImageNotFound(imageId);
        return nullptr;
    }
    if (image->state != "available") {
        error = "InvalidAMIID.Unavailable: The image id '[" + image->id + "]' is not available (" + image->state + ")";
        return nullptr;
    }
    return image;
}

// The type asked for, else the AMI's own, else EC2's default.
std::string LaunchType(const Image& image, const std::string& requested) {
    if (!requested.empty()) return requested;
    return !image.instanceType.empty() ? image.instanceType : "t3.micro";
}

bool KeyPairKnown(const State& s, const std::string& account, const std::string& region, const std::string& name) {
    return std::any_of(s.keyPairs.begin(), s.keyPairs.end(),
                       [&](const KeyPair& k) { return k.name == name && k.account == account && k.region == region; });
}

std::string KeyPairNotFound(const std::string& name) {
    return "InvalidKeyPair.NotFound: The key pair '" + name + "' does not exist";
}

// The volumes a launch makes from the image's snapshots, every one checked
// completed: attached at once, the root (at rootDevice) going with the
// instance.
void AddImageVolumes(State& s, Instance& inst, const Image& image, const std::string& rootDevice, int64_t now) {
    for (const auto& snapId : image.snapshotIds) {
        const Snapshot& snap = s.snapshots.at(snapId);
        bool root = inst.volumeIds.empty();
        Volume v;
        v.id = s.NewId("vol");
        v.account = inst.account;
        v.region = inst.region;
        v.zone = inst.zone;
        v.sizeBytes = snap.sizeBytes;
        v.type = snap.volumeType;
        v.iops = snap.iops;
        v.encrypted = snap.encrypted;
        v.kmsKeyId = snap.kmsKeyId;
        v.outpostArn = inst.outpostArn;
        v.state = "in-use";
        v.attachedInstance = inst.id;
        v.attachedDevice = root ? rootDevice : NextFreeDevice(s, inst);
        v.deleteOnTermination = root;
        v.createdMs = now;
        v.snapshotId = snap.id;
        v.lineage = LineageOf(s, snap);
        v.blocks = snap.blocks;
        s.volumes[v.id] = v;
        inst.volumeIds.push_back(v.id);
    }
}

// An interface lives on the instance it is attached to; one whose instance
// terminated without taking it is available, and moves to a launch that
// names it. Anything else is refused as RunInstances refuses it.
// A new primary interface, with an address of subnet when there is one.
NetworkInterface NewInterface(State& s, const Subnet* subnet) {
    NetworkInterface nic;
    nic.id = s.NewId("eni");
    if (subnet) {
        nic.subnetId = subnet->id;
        nic.privateIp = NextPrivateIp(s, *subnet);
    }
    nic.macAddress = MacFor(nic.id);
    return nic;
}

// What every launch gives an instance once its id and platform are set.
void StampLaunch(Instance& inst, int64_t now) {
    if (inst.platform == "windows") inst.password = "Pw-" + inst.id.substr(2, 12) + "!";
    inst.consoleOutput = ConsoleFor(inst);
    inst.launchTimeMs = now;
}

bool MoveInterface(State& s, const LaunchRequest& launch, Instance& to, std::string& error) {
    const std::string& id = launch.interfaceId;
    for (auto& [owner, inst] : s.instances) {
        if (inst.account != launch.account || inst.region != launch.region) continue;
        auto& nics = inst.networkInterfaces;
        auto it = std::find_if(nics.begin(), nics.end(), [&](const NetworkInterface& n) { return n.id == id; });
        if (it == nics.end()) continue;
        if (inst.state != "terminated") {
            error = "InvalidNetworkInterface.InUse: Interface: [" + id + "] in use.";
            return false;
        }
        if (it->deleteOnTermination) break;   // went with its instance
        if (inst.zone != launch.zone) {
            error = "InvalidParameterValue: The network interface '" + id + "' is in the availability zone " +
                    inst.zone + ", not " + launch.zone;
            return false;
        }
        to.networkInterfaces.push_back(*it);
        nics.erase(it);
        return true;
    }
    error = "InvalidNetworkInterfaceID.NotFound: The networkInterface ID '" + id + "' does not exist";
    return false;
}

}  // namespace

Instance* LaunchInstance(State& s, const LaunchRequest& launch, int64_t now, const std::string& effect,
                         std::vector<std::string>& warnings, std::string& error) {
    const Region* zoneRegion = s.RegionOfZone(launch.zone);
    if (!zoneRegion || zoneRegion->name != launch.region) {
        error = InvalidZone(launch.zone);
        return nullptr;
    }
    const Image* image = LaunchableImage(s, launch.imageId, launch.account, launch.region, error);
    if (!image) return nullptr;
    const std::string type = LaunchType(*image, launch.instanceType);
    if (!CheckLaunchType(s, launch.region, type, error)) return nullptr;
    const Subnet* subnet = nullptr;
    if (!launch.subnetId.empty()) {
        auto it = s.subnets.find(launch.subnetId);
        if (it == s.subnets.end() || it->second.account != launch.account || it->second.region != launch.region) {
            error = SubnetNotFound(launch.subnetId);
            return nullptr;
        }
        subnet = &it->second;
        if (!subnet->zone.empty() && subnet->zone != launch.zone) {
            error = "InvalidParameterValue: Value (" + launch.zone +
                    ") for parameter availabilityZone is invalid. Subnet '" + subnet->id +
                    "' is in the availability zone " + subnet->zone;
            return nullptr;
        }
    } else {
        subnet = DefaultSubnet(s, launch.account, launch.region, launch.zone);
    }
    std::vector<std::string> groups;
    for (const auto& wanted : launch.securityGroups) {
        const SecurityGroup* g = FindGroup(s, launch.account, launch.region, subnet ? subnet->vpcId : "", wanted);
        if (g && (!subnet || g->vpcId == subnet->vpcId)) {
            if (std::find(groups.begin(), groups.end(), g->id) == groups.end()) groups.push_back(g->id);
            continue;
        }
        std::string text = "InvalidGroup.NotFound: The security group '" + wanted + "' does not exist in VPC '" +
                           (subnet ? subnet->vpcId : std::string()) + "'";
        if (!launch.skipUnknown) {
            error = text;
            return nullptr;
        }
        warnings.push_back(text);
    }
    std::string keyName;
    if (!launch.keyName.empty()) {
        std::string text = KeyPairNotFound(launch.keyName);
        if (KeyPairKnown(s, launch.account, launch.region, launch.keyName)) {
            keyName = launch.keyName;
        } else if (!launch.skipUnknown) {
            error = text;
            return nullptr;
        } else {
            warnings.push_back(text);
        }
    }
    for (const auto& snapId : image->snapshotIds) {
        auto it = s.snapshots.find(snapId);
        if (it == s.snapshots.end() || it->second.state != "completed") {
            error = SnapshotNotFound(snapId);
            return nullptr;
        }
    }
    Instance inst;
    inst.id = s.NewId("i");
    inst.account = launch.account;
    inst.region = launch.region;
    inst.zone = launch.zone;
    inst.instanceType = type;
    inst.platform = image->platform;
    inst.amiId = image->id;
    inst.rootDeviceName = image->rootDeviceName;
    inst.biosUuid = BiosUuidFor(inst.id);
    inst.virtualizationType = image->virtualizationType;
    inst.outpostArn = subnet ? subnet->outpostArn : "";
    inst.securityGroupIds = groups;
    inst.keyName = keyName;
    inst.disableApiTermination = launch.disableApiTermination;
    inst.ebsOptimized = launch.ebsOptimized;
    StampLaunch(inst, now);
    if (!launch.interfaceId.empty()) {
        if (!MoveInterface(s, launch, inst, error)) return nullptr;
    } else {
        inst.networkInterfaces.push_back(NewInterface(s, subnet));
    }
    AddImageVolumes(s, inst, *image, RootDeviceOf(inst), now);
    BootInstance(s, inst, now, effect);
    return &(s.instances[inst.id] = inst);
}

Instance* CreateInstance(State& s, const CreateRequest& request, int64_t now, const FaultHit& hit, std::string& error) {
    const Region* region = s.FindRegion(request.region);
    std::string zone = request.zone.empty() && region && !region->zones.empty() ? region->zones.front() : request.zone;
    const Region* zoneRegion = s.RegionOfZone(zone);
    if (!zoneRegion || zoneRegion->name != request.region) {
        error = InvalidZone(zone);
        return nullptr;
    }
    if (request.imageId.empty()) {
        error = MissingParameter("the parameter ImageId");
        return nullptr;
    }
    const Image* image = LaunchableImage(s, request.imageId, request.account, request.region, error);
    if (!image) return nullptr;
    const std::string type = LaunchType(*image, request.instanceType);
    if (!CheckOffered(s, request.region, type, error)) return nullptr;
    if (!request.keyName.empty() && !KeyPairKnown(s, request.account, request.region, request.keyName)) {
        error = KeyPairNotFound(request.keyName);
        return nullptr;
    }
    const Subnet* subnet = nullptr;
    if (!request.subnetId.empty()) {
        subnet = FindOwned(s.subnets, request.subnetId, request.account, request.region);
        if (!subnet) {
            error = SubnetNotFound(request.subnetId);
            return nullptr;
        }
    } else {
        subnet = DefaultSubnet(s, request.account, request.region, zone);
    }
    if (!request.name.empty() && !CheckTag("Name", request.name, error)) return nullptr;
    for (const auto& snapId : image->snapshotIds) {
        auto it = s.snapshots.find(snapId);
        if (it == s.snapshots.end() || it->second.state != "completed") {
            error = "InvalidSnapshot.NotFound: The snapshot '" + snapId + "' of image " + image->id +
                    " is not available";
            return nullptr;
        }
    }
    Instance inst;
    inst.id = s.NewId("i");
    inst.account = request.account;
    inst.region = request.region;
    inst.zone = zone;
    inst.instanceType = type;
    inst.platform = image->platform;
    inst.amiId = image->id;
    inst.biosUuid = BiosUuidFor(inst.id);
    inst.virtualizationType = image->virtualizationType;
    inst.keyName = request.keyName;
    StampLaunch(inst, now);
    if (!request.name.empty()) inst.tags["Name"] = request.name;
    inst.networkInterfaces.push_back(NewInterface(s, subnet));
    // The image's root device, not the instance's: this launch records none
    // on the instance.
    AddImageVolumes(s, inst, *image, image->rootDeviceName, now);
    if (request.stopped) {
        inst.state = "stopped";
        inst.statusCheck.clear();
    } else {
        BootInstance(s, inst, now, hit.EffectFor({inst.id, image->id}));
    }
    return &(s.instances[inst.id] = inst);
}

std::string TerminationProtected(const std::string& id) {
    return "OperationNotPermitted: The instance '" + id +
           "' may not be terminated. Modify its 'disableApiTermination' instance attribute and try again.";
}

std::string SubnetNotFound(const std::string& id) {
    return "InvalidSubnetID.NotFound: The subnet ID '" + id + "' does not exist";
}

std::string InstanceNotFound(const std::string& id) {
    return "InvalidInstanceID.NotFound: The instance ID '" + id + "' does not exist";
}

std::string InstanceNamedNotFound(const std::string& name) {
    return "InvalidInstanceID.NotFound: No instance named '" + name + "' exists";
}

std::string VolumeInUse(const std::string& volumeId) {
    return "VolumeInUse: " + volumeId + " is already attached to an instance";
}

}  // namespace cloudsim
