// Shared helpers of the bridge: AWS error texts, URL parsing, and the
// conversions from the simulated cloud's records to the framework's.
#include "bridge/BridgeImpl.h"

using VMInfoStructs::SDataCenterInfo;
using VMInfoStructs::SDisk;
using VMInfoStructs::SHostInfo;
using VMInfoStructs::SVMInfo;

namespace bridgeimpl {

const char kTag[] = "AwsBridge";
const char kNotConnected[] = "InvalidClientState: not connected";

std::string UnknownRegion(const std::string& region) { return "InvalidParameterValue: Unknown region " + region; }

std::string InstanceNotFound(const std::string& id) {
    return "InvalidInstanceID.NotFound: The instance ID '" + id + "' does not exist";
}

std::string VolumeNotFound(const std::string& id) {
    return "InvalidVolume.NotFound: The volume '" + id + "' does not exist.";
}

std::string SnapshotNotFound(const std::string& id) {
    return "InvalidSnapshot.NotFound: The snapshot '" + id + "' does not exist.";
}

std::string ImageNotFound(const std::string& id) {
    return "InvalidAMIID.NotFound: The image id '[" + id + "]' does not exist";
}

std::string NotImplemented(const char* op) { return std::string("NotImplemented: ") + op; }

std::string TagOr(const std::map<std::string, std::string>& tags, const std::string& key,
                  const std::string& fallback) {
    auto it = tags.find(key);
    return it == tags.end() ? fallback : it->second;
}

// "https://ec2.us-west-2.amazonaws.com" names us-west-2; the global
// "ec2.amazonaws.com" is us-east-1's.
std::string RegionOfUrl(const std::string& url) {
    std::string host = url;
    size_t scheme = host.find("://");
    if (scheme != std::string::npos) host = host.substr(scheme + 3);
    host = host.substr(0, host.find_first_of("/:"));
    const std::string prefix = "ec2.";
    const std::string suffix = ".amazonaws.com";
    if (host.size() < suffix.size() || host.compare(host.size() - suffix.size(), suffix.size(), suffix) != 0)
        return host;
    std::string middle = host.substr(0, host.size() - suffix.size());
    if (middle == "ec2") return "us-east-1";
    if (middle.compare(0, prefix.size(), prefix) == 0) return middle.substr(prefix.size());
    return middle;
}

SDisk ToDisk(const cloudsim::Volume& v, bool first) {
    SDisk d;
    d.name = TagOr(v.tags, "Name", v.id);
    d.displayName = d.name;
    d.volumeId = v.id;
    d.deviceName = v.attachedDevice;
    d.zone = v.zone;
    d.state = v.state;
    d.size = v.sizeBytes;
    d.usedSize = v.UsedBytes();
    d.volumeType = v.type;
    d.iops = v.iops;
    d.encrypted = v.encrypted;
    d.kmsKeyId = v.kmsKeyId;
    d.deleteOnTermination = v.deleteOnTermination;
    d.isOSDisk = first;
    return d;
}

SVMInfo ToVMInfo(const cloudsim::State& s, const cloudsim::Instance& inst) {
    SVMInfo vm;
    vm.name = TagOr(inst.tags, "Name", "");
    vm.guid = inst.id;
    vm.region = inst.region;
    vm.zone = inst.zone;
    vm.instanceType = inst.instanceType;
    bool windows = inst.platform == "windows";
    vm.guestOS = windows ? "Windows" : "Linux";
    vm.guestOSInfo.name = vm.guestOS;
    vm.guestOSInfo.isWindows = windows;
    vm.virtualizationType = inst.virtualizationType;
    vm.amiId = inst.amiId;
    vm.biosUuid = inst.biosUuid;
    vm.isTemplate = inst.isTemplate;
    vm.powerState = inst.state == "running" ? 1 : 0;
    for (const auto& volId : inst.volumeIds) {
        auto it = s.volumes.find(volId);
        if (it == s.volumes.end()) continue;
        vm.disks.push_back(ToDisk(it->second, vm.disks.empty()));
        vm.totalDiskSize += static_cast<uint64_t>(vm.disks.back().usedSize);
    }
    vm.allDisks = vm.disks;
    return vm;
}

bool Listed(const cloudsim::Instance& inst, const std::string& account) {
    return inst.account == account && inst.state != "terminated";
}

SHostInfo ToHost(const cloudsim::State& s, const std::string& account, const cloudsim::Region& region,
                 const std::string& zone) {
    SHostInfo host;
    host.name = zone;
    host.guid = zone;
    host.region = region.name;
    host.state = "available";
    for (const auto& [id, inst] : s.instances)
        if (Listed(inst, account) && inst.zone == zone) host.vms.push_back(ToVMInfo(s, inst));
    return host;
}

SDataCenterInfo ToDataCenter(const cloudsim::State& s, const std::string& account, const cloudsim::Region& region) {
    SDataCenterInfo dc;
    dc.name = region.name;
    dc.guid = region.name;
    dc.endpoint = "ec2." + region.name + ".amazonaws.com";
    for (const auto& zone : region.zones) dc.hosts.push_back(ToHost(s, account, region, zone));
    for (const auto& [id, inst] : s.instances)
        if (Listed(inst, account) && inst.region == region.name) dc.vms.push_back(ToVMInfo(s, inst));
    return dc;
}

}  // namespace bridgeimpl
