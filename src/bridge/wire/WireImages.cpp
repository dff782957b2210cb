// The wire backend's AMI as a template record: one disk per snapshot of its
// block device mapping, root first, as GetVMInfoForVM gives an "ami-" guid.
#include <cstdlib>

#include "bridge/wire/WireBackend.h"
#include "bridge/wire/WireEc2Records.h"

using namespace bridgeimpl;
using namespace bridgeimpl::wire;
using VMInfoStructs::SDisk;
using VMInfoStructs::SVMInfo;

namespace {
struct Ec2Snapshot {
    std::string volumeId, state, description, kmsKeyId, volumeType;
    long long sizeBytes = 0;
    int iops = 0;
    bool encrypted = false;
};
}  // namespace

bool WireBackend::ImageRecord(const std::string& amiId, const std::string& region, SVMInfo& vm, std::string& error) {
    bool found = false;
    std::string rootDevice, platform;
    std::vector<std::pair<std::string, Ec2Snapshot>> mapped;  // snapshot id, what the mapping says
    if (!Ec2Items("DescribeImages", {{"ImageId.1", amiId}}, "imagesSet/item",
                  [&](const pugi::xml_node& item) {
                      if (amiId != item.child_value("imageId")) return;
                      found = true;
                      vm.name = item.child_value("name");
                      vm.virtualizationType = item.child_value("virtualizationType");
                      vm.guestOSInfo.architecture = item.child_value("architecture");
                      vm.sourceId = item.child_value("sourceInstanceId");
                      platform = item.child_value("platform");
                      rootDevice = item.child_value("rootDeviceName");
                      for (pugi::xml_node d : item.child("blockDeviceMapping").children("item")) {
                          pugi::xml_node ebs = d.child("ebs");
                          Ec2Snapshot s;
                          s.volumeType = ebs.child_value("volumeType");
                          s.iops = std::atoi(ebs.child_value("iops"));
                          s.sizeBytes = std::atoll(ebs.child_value("volumeSize")) * kGiB;
                          s.encrypted = std::string(ebs.child_value("encrypted")) == "true";
                          const std::string id = ebs.child_value("snapshotId");
                          if (id.empty()) continue;
                          // The root first, the others as mapped.
                          const bool root = d.child_value("deviceName") == rootDevice;
                          mapped.insert(root ? mapped.begin() : mapped.end(), {id, s});
                      }
                  },
                  error, region, 0))
        return false;
    if (!found) {
        error = "InvalidAMIID.NotFound: The image id '[" + amiId + "]' does not exist";
        return false;
    }
    std::map<std::string, Ec2Snapshot> described;
    if (!mapped.empty()) {
        QueryParams params;
        std::vector<std::string> ids;
        for (const auto& m : mapped) ids.push_back(m.first);
        AddList(params, "SnapshotId", ids);
        if (!Ec2Items("DescribeSnapshots", params, "snapshotSet/item",
                      [&](const pugi::xml_node& item) {
                          Ec2Snapshot& s = described[item.child_value("snapshotId")];
                          s.volumeId = item.child_value("volumeId");
                          s.state = item.child_value("status");
                          s.description = item.child_value("description");
                          s.kmsKeyId = item.child_value("kmsKeyId");
                          s.encrypted = std::string(item.child_value("encrypted")) == "true";
                          s.sizeBytes = std::atoll(item.child_value("volumeSize")) * kGiB;
                      },
                      error, region, 0))
            return false;
    }
    vm.guid = vm.amiId = amiId;
    vm.region = RegionFor(region);
    const bool windows = platform == "windows";
    vm.guestOS = windows ? "Windows" : "Linux";
    vm.guestOSInfo.name = vm.guestOS;
    vm.guestOSInfo.isWindows = windows;
    vm.isTemplate = true;
    vm.disks.clear();
    for (const auto& [id, fromMapping] : mapped) {
        auto it = described.find(id);
        const Ec2Snapshot& snap = it == described.end() ? fromMapping : it->second;
        SDisk d;
        d.volumeId = d.sourceVolumeId = snap.volumeId;
        d.name = d.displayName = snap.volumeId.empty() ? id : snap.volumeId;
        d.deviceName = vm.disks.empty() ? rootDevice : "";
        d.state = snap.state;
        d.size = d.usedSize = snap.sizeBytes ? snap.sizeBytes : fromMapping.sizeBytes;
        d.volumeType = fromMapping.volumeType;
        d.iops = fromMapping.iops;
        d.encrypted = snap.encrypted || fromMapping.encrypted;
        d.kmsKeyId = snap.kmsKeyId;
        d.snapshotId = d.snapshotIdCbt = id;
        d.isOSDisk = vm.disks.empty();
        d.diskType = 1;
        VMInfoStructs::SChildDisk child;
        child.volumeId = snap.volumeId;
        child.snapshotId = id;
        child.description = snap.description;
        child.state = snap.state;
        child.size = child.usedSize = d.size;
        child.encrypted = d.encrypted;
        child.kmsKeyId = snap.kmsKeyId;
        d.snapshots.push_back(child);
        vm.disks.push_back(d);
        vm.totalDiskSize += static_cast<uint64_t>(d.size);
    }
    vm.allDisks = vm.disks;
    return true;
}
