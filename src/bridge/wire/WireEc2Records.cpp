// EC2's XML answers as the framework's records.
#include "bridge/wire/WireEc2Records.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace bridgeimpl {
namespace wire {

namespace {

std::string Text(const pugi::xml_node& node, const char* path) {
    pugi::xml_node at = node;
    std::string rest = path;
    for (;;) {
        size_t slash = rest.find('/');
        at = at.child(rest.substr(0, slash).c_str());
        if (!at || slash == std::string::npos) break;
        rest = rest.substr(slash + 1);
    }
    return at.child_value();
}

bool Bool(const pugi::xml_node& node, const char* path) { return Text(node, path) == "true"; }

std::string TagOr(const std::map<std::string, std::string>& tags, const std::string& key,
                  const std::string& fallback) {
    auto it = tags.find(key);
    return it == tags.end() ? fallback : it->second;
}

int FilterCount(const std::vector<std::pair<std::string, std::string>>& params) {
    int n = 0;
    for (const auto& p : params)
        if (p.first.rfind("Filter.", 0) == 0 && p.first.size() > 5 &&
            p.first.compare(p.first.size() - 5, 5, ".Name") == 0)
            ++n;
    return n;
}

}  // namespace

int64_t ParseAwsTime(const std::string& text) {
    std::tm tm{};
    char tail = 0;
    const int n = std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                              &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &tail);
    if (n < 6 || (n == 7 && tail != '.' && tail != 'Z')) return -1;
    if (tm.tm_mon < 1 || tm.tm_mon > 12 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour > 23 || tm.tm_min > 59 ||
        tm.tm_sec > 60)
        return -1;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return static_cast<int64_t>(timegm(&tm));
}

std::map<std::string, std::string> ParseTags(const pugi::xml_node& tagSet) {
    std::map<std::string, std::string> tags;
    for (pugi::xml_node item : tagSet.children("item")) tags[item.child_value("key")] = item.child_value("value");
    return tags;
}

Ec2Instance ParseInstance(const pugi::xml_node& item) {
    Ec2Instance i;
    i.id = Text(item, "instanceId");
    i.instanceType = Text(item, "instanceType");
    i.zone = Text(item, "placement/availabilityZone");
    i.state = Text(item, "instanceState/name");
    i.platform = Text(item, "platform");
    i.virtualizationType = Text(item, "virtualizationType");
    i.imageId = Text(item, "imageId");
    i.rootDeviceName = Text(item, "rootDeviceName");
    i.keyName = Text(item, "keyName");
    i.outpostArn = Text(item, "outpostArn");
    i.tags = ParseTags(item.child("tagSet"));
    for (pugi::xml_node d : item.child("blockDeviceMapping").children("item"))
        i.devices.push_back({Text(d, "deviceName"), Text(d, "ebs/volumeId"), Bool(d, "ebs/deleteOnTermination")});
    for (pugi::xml_node n : item.child("networkInterfaceSet").children("item")) {
        VMInfoStructs::SVMNetworkCard card;
        card.id = card.name = Text(n, "networkInterfaceId");
        card.subnetId = Text(n, "subnetId");
        card.networkName = Text(n, "vpcId");
        card.macAddress = Text(n, "macAddress");
        card.privateIp = Text(n, "privateIpAddress");
        i.networkCards.push_back(card);
    }
    return i;
}

Ec2Volume ParseVolume(const pugi::xml_node& item) {
    Ec2Volume v;
    v.id = Text(item, "volumeId");
    v.zone = Text(item, "availabilityZone");
    v.state = Text(item, "status");
    v.volumeType = Text(item, "volumeType");
    v.kmsKeyId = Text(item, "kmsKeyId");
    v.sizeBytes = std::atoll(Text(item, "size").c_str()) * kGiB;
    v.iops = std::atoi(Text(item, "iops").c_str());
    v.encrypted = Bool(item, "encrypted");
    v.tags = ParseTags(item.child("tagSet"));
    pugi::xml_node a = item.child("attachmentSet").child("item");
    if (a) {
        v.instanceId = Text(a, "instanceId");
        v.device = Text(a, "device");
        v.attachState = Text(a, "status");
        v.deleteOnTermination = Bool(a, "deleteOnTermination");
        // A finished detachment is no attachment at all.
        if (v.attachState == "detached") {
            v.instanceId.clear();
            v.device.clear();
            v.attachState.clear();
        }
    }
    return v;
}

VMInfoStructs::SDisk ToDisk(const Ec2Volume& v, bool first) {
    VMInfoStructs::SDisk d;
    d.name = TagOr(v.tags, "Name", v.id);
    d.displayName = d.name;
    d.volumeId = v.id;
    d.deviceName = v.device;
    d.zone = v.zone;
    d.state = v.state;
    d.attachState = v.attachState;
    d.size = v.sizeBytes;
    // EC2 does not say how much of a volume is written; all of it may be.
    d.usedSize = v.sizeBytes;
    d.volumeType = v.volumeType;
    d.iops = v.iops;
    d.encrypted = v.encrypted;
    d.kmsKeyId = v.kmsKeyId;
    d.deleteOnTermination = v.deleteOnTermination;
    d.isOSDisk = first;
    d.diskType = 1;  // an EBS volume
    return d;
}

VMInfoStructs::SVMInfo ToVMInfo(const Ec2Instance& inst, const std::string& region,
                                const std::map<std::string, Ec2Volume>& volumes) {
    VMInfoStructs::SVMInfo vm;
    vm.name = TagOr(inst.tags, "Name", "");
    vm.guid = inst.id;
    vm.region = region;
    vm.zone = inst.zone;
    vm.instanceType = inst.instanceType;
    const bool windows = inst.platform == "windows";
    vm.guestOS = windows ? "Windows" : "Linux";
    vm.guestOSInfo.name = vm.guestOS;
    vm.guestOSInfo.isWindows = windows;
    vm.virtualizationType = inst.virtualizationType;
    vm.amiId = inst.imageId;
    vm.powerState = inst.state == "running" ? 1 : 0;
    // The root volume first, the others as the mapping lists them.
    std::vector<Ec2Attachment> ordered;
    for (const auto& a : inst.devices)
        if (a.device == inst.rootDeviceName) ordered.push_back(a);
    for (const auto& a : inst.devices)
        if (a.device != inst.rootDeviceName) ordered.push_back(a);
    for (const auto& a : ordered) {
        auto it = volumes.find(a.volumeId);
        Ec2Volume v;
        if (it != volumes.end()) v = it->second;
        v.id = a.volumeId;
        v.device = a.device;
        v.deleteOnTermination = a.deleteOnTermination;
        vm.disks.push_back(ToDisk(v, vm.disks.empty() && a.device == inst.rootDeviceName));
        vm.totalDiskSize += static_cast<uint64_t>(vm.disks.back().usedSize);
    }
    vm.allDisks = vm.disks;
    vm.networkCards = inst.networkCards;
    if (!inst.keyName.empty()) {
        VMInfoStructs::SKeyPairInfo key;
        key.name = inst.keyName;
        vm.keyPairs.push_back(key);
    }
    return vm;
}

void AddList(std::vector<std::pair<std::string, std::string>>& params, const std::string& prefix,
             const std::vector<std::string>& values) {
    for (size_t i = 0; i < values.size(); ++i) params.emplace_back(prefix + "." + std::to_string(i + 1), values[i]);
}

void AddFilter(std::vector<std::pair<std::string, std::string>>& params, const std::string& name,
               const std::string& value) {
    const std::string prefix = "Filter." + std::to_string(FilterCount(params) + 1);
    params.emplace_back(prefix + ".Name", name);
    params.emplace_back(prefix + ".Value.1", value);
}

void AddTagSpecification(std::vector<std::pair<std::string, std::string>>& params, const std::string& resourceType,
                         const std::map<std::string, std::string>& tags) {
    if (tags.empty()) return;
    params.emplace_back("TagSpecification.1.ResourceType", resourceType);
    int n = 0;
    for (const auto& [key, value] : tags) {
        const std::string prefix = "TagSpecification.1.Tag." + std::to_string(++n);
        params.emplace_back(prefix + ".Key", key);
        params.emplace_back(prefix + ".Value", value);
    }
}

}  // namespace wire
}  // namespace bridgeimpl
