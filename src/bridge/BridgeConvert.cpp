// Shared helpers of the bridge: URL parsing, tag value lists, and the
// conversions from the simulated cloud's records to the framework's.
#include "bridge/BridgeImpl.h"

#include <cctype>
#include <cstring>

#include "framework/Cidr.h"
#include "framework/Clock.h"

using VMInfoStructs::SDataCenterInfo;
using VMInfoStructs::SDisk;
using VMInfoStructs::SHostInfo;
using VMInfoStructs::SVMInfo;

namespace bridgeimpl {

const char kTag[] = "AwsBridge";
const char kNotConnected[] = "InvalidClientState: not connected";

std::string NotImplemented(const char* op) { return std::string("NotImplemented: ") + op; }

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::vector<std::string> SplitValues(const std::string& value) {
    std::vector<std::string> parts;
    if (value.empty()) return parts;
    size_t start = 0;
    for (;;) {
        size_t hash = value.find('#', start);
        parts.push_back(value.substr(start, hash - start));
        if (hash == std::string::npos) break;
        start = hash + 1;
    }
    return parts;
}

std::string JoinValues(const std::vector<std::string>& values) {
    std::string joined;
    for (size_t i = 0; i < values.size(); ++i) joined += (i ? "#" : "") + values[i];
    return joined;
}

std::string TagOr(const std::map<std::string, std::string>& tags, const std::string& key,
                  const std::string& fallback) {
    auto it = tags.find(key);
    return it == tags.end() ? fallback : it->second;
}

bool TakesIops(const std::string& type) { return type == "io1" || type == "io2" || type == "gp3"; }

std::vector<VMInfoStructs::SDiskMetadataInfo> DiskMetadataOf(const VolumeFacts& v) {
    const std::pair<const char*, std::string> entries[] = {
        {"VolumeType", v.type},
        {"Size", std::to_string(v.sizeGiB)},
        {"Iops", std::to_string(v.iops)},
        {"Encrypted", v.encrypted ? "true" : "false"},
        {"KmsKeyId", v.kmsKeyId},
        {"State", v.state},
        {"AvailabilityZone", v.zone},
    };
    std::vector<VMInfoStructs::SDiskMetadataInfo> metadata;
    for (const auto& [name, value] : entries) {
        VMInfoStructs::SDiskMetadataInfo info;
        info.name = name;
        info.value = value;
        metadata.push_back(info);
    }
    return metadata;
}

int64_t ExpiryCutoffMs(long long ageSeconds, int64_t nowMs) {
    constexpr long long kEpochCutoffSec = 1000000000LL;
    return ageSeconds >= kEpochCutoffSec ? ageSeconds * 1000 : nowMs - ageSeconds * 1000;
}

bool IsWindowsGuest(const SVMInfo& vm) {
    return vm.guestOSInfo.isWindows || strcasestr(vm.guestOS.c_str(), "windows") != nullptr;
}

bool FreeSubnetBlock(const std::string& vpcId, const std::string& vpcCidr,
                     const std::vector<std::string>& subnetCidrs, std::string& cidr, std::string& error) {
    FwCidr::Block whole, free;
    std::string why;
    if (!FwCidr::ParseIPv4Block(vpcCidr, whole, why) || whole.prefix > 24) {
        error = "InvalidSubnet.Range: The CIDR of vpc '" + vpcId + "' holds no /24 block";
        return false;
    }
    std::vector<FwCidr::Block> taken;
    for (const auto& text : subnetCidrs) {
        FwCidr::Block b;
        if (FwCidr::ParseIPv4Block(text, b, why)) taken.push_back(b);
    }
    if (!FwCidr::FirstFreeIPv4Block(whole, taken, 24, free)) {
        error = "InsufficientFreeAddressesInSubnet: No free /24 block is left in vpc '" + vpcId + "'";
        return false;
    }
    cidr = FwCidr::IPv4BlockText(free);
    return true;
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
    d.attachState = v.AttachmentState();
    d.size = v.sizeBytes;
    d.usedSize = v.UsedBytes();
    d.volumeType = v.type;
    d.iops = v.iops;
    d.encrypted = v.encrypted;
    d.kmsKeyId = v.kmsKeyId;
    d.deleteOnTermination = v.deleteOnTermination;
    d.isOSDisk = first;
    d.diskType = 1;   // an EBS volume
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
    vm.terminationProtection = inst.disableApiTermination;
    vm.powerState = inst.state == "running" ? 1 : 0;
    for (const auto& volId : inst.volumeIds) {
        auto it = s.volumes.find(volId);
        if (it == s.volumes.end()) continue;
        vm.disks.push_back(ToDisk(it->second, vm.disks.empty()));
        vm.totalDiskSize += static_cast<uint64_t>(vm.disks.back().usedSize);
    }
    vm.allDisks = vm.disks;
    for (const auto& nic : inst.networkInterfaces) {
        VMInfoStructs::SVMNetworkCard card;
        card.name = nic.id;
        card.id = nic.id;
        card.subnetId = nic.subnetId;
        card.macAddress = nic.macAddress;
        card.privateIp = nic.privateIp;
        auto subnet = s.subnets.find(nic.subnetId);
        if (subnet != s.subnets.end()) card.networkName = subnet->second.vpcId;
        vm.networkCards.push_back(card);
    }
    if (!inst.keyName.empty()) {
        VMInfoStructs::SKeyPairInfo key;
        key.name = inst.keyName;
        for (const auto& k : s.keyPairs)
            if (k.name == inst.keyName && k.account == inst.account && k.region == inst.region)
                key.fingerprint = k.fingerprint;
        vm.keyPairs.push_back(key);
    }
    return vm;
}

SVMInfo ImageToVMInfo(const cloudsim::State& s, const cloudsim::Image& image) {
    SVMInfo vm;
    vm.name = image.name;
    vm.guid = image.id;
    vm.region = image.region;
    vm.amiId = image.id;
    vm.sourceId = image.sourceInstanceId;
    vm.instanceType = image.instanceType;
    bool windows = image.platform == "windows";
    vm.guestOS = windows ? "Windows" : "Linux";
    vm.guestOSInfo.name = vm.guestOS;
    vm.guestOSInfo.isWindows = windows;
    vm.guestOSInfo.architecture = image.architecture;
    vm.virtualizationType = image.virtualizationType;
    vm.isTemplate = true;
    for (const auto& snapId : image.snapshotIds) {
        auto it = s.snapshots.find(snapId);
        if (it == s.snapshots.end()) continue;
        const cloudsim::Snapshot& snap = it->second;
        SDisk d;
        d.volumeId = snap.volumeId;
        d.sourceVolumeId = snap.volumeId;
        d.name = snap.volumeId.empty() ? snap.id : snap.volumeId;
        d.displayName = d.name;
        d.deviceName = vm.disks.empty() ? image.rootDeviceName : "";
        d.state = snap.state;
        d.size = snap.sizeBytes;
        d.usedSize = snap.sizeBytes;
        d.volumeType = snap.volumeType;
        d.iops = snap.iops;
        d.encrypted = snap.encrypted;
        d.kmsKeyId = snap.kmsKeyId;
        d.snapshotId = snap.id;
        d.snapshotIdCbt = snap.id;
        d.isOSDisk = vm.disks.empty();
        d.diskType = 1;
        d.snapshots.push_back(ToChildDisk(snap));
        vm.disks.push_back(d);
        vm.totalDiskSize += static_cast<uint64_t>(snap.sizeBytes);
    }
    vm.allDisks = vm.disks;
    return vm;
}

VMInfoStructs::SChildDisk ToChildDisk(const cloudsim::Snapshot& snap) {
    VMInfoStructs::SChildDisk c;
    c.volumeId = snap.volumeId;
    c.snapshotId = snap.id;
    c.description = snap.description;
    c.state = snap.state;
    c.size = snap.sizeBytes;
    c.usedSize = snap.sizeBytes;
    c.encrypted = snap.encrypted;
    c.kmsKeyId = snap.kmsKeyId;
    return c;
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

int64_t bridgeimpl::SimBackend::Impl::Now() const { return FwClock::NowMs(); }
