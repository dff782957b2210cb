// The wire backend's launches: the instance a restore attaches its volumes
// to (RunInstances, then stopped, its root volume making way), an instance
// made from an AMI, and a change of an instance's type and name. The waits
// poll EC2 on the framework clock.
#include <strings.h>

#include <algorithm>

#include "bridge/BridgeText.h"
#include "bridge/wire/WireBackend.h"
#include "bridge/wire/WireEc2Records.h"
#include "framework/Clock.h"
#include "framework/EvDebug.h"

using namespace bridgeimpl;
using namespace bridgeimpl::wire;
using VMInfoStructs::SVMInfo;

namespace {

const char kWireTag[] = "AwsBridge";
constexpr int64_t kPollMs = 2000;
constexpr int64_t kWaitLimitMs = 30LL * 60 * 1000;
// EC2 may not list an instance it has just launched for a while (its
// reads are eventually consistent): so long, not found is not yet.
constexpr int64_t kLaunchVisibleMs = 5LL * 60 * 1000;

// AWS's public parameters naming the current base image of each platform.
const char kLinuxBaseImage[] = "/aws/service/ami-amazon-linux-latest/al2023-ami-kernel-default-x86_64";
const char kWindowsBaseImage[] = "/aws/service/ami-windows-latest/Windows_Server-2022-English-Full-Base";

}  // namespace

bool WireBackend::WaitInstanceState(const std::string& id, const std::string& region, const std::string& wanted,
                                    Ec2Instance& inst, std::string& error) {
    const int64_t start = FwClock::NowMs();
    const int64_t end = start + kWaitLimitMs;
    for (;;) {
        if (!FindInstance("", id, region, inst, error)) {
            const bool notYet = wanted == "running" && error.rfind("InvalidInstanceID.NotFound", 0) == 0 &&
                                FwClock::NowMs() < start + kLaunchVisibleMs;
            if (!notYet) return false;
            FwClock::Get().SleepMs(kPollMs);
            continue;
        }
        if (inst.state == wanted) return true;
        // EC2 answers with the state before a request for a moment after it.
        const bool moving = inst.state == "pending" || inst.state == "stopping" ||
                            (wanted == "stopped" && inst.state == "running");
        if (!moving) {
            error = "IncorrectInstanceState: The instance '" + id + "' is in the '" + inst.state + "' state.";
            return false;
        }
        if (FwClock::NowMs() >= end) {
            error = "RequestTimeout: instance " + id + " reaching '" + wanted + "' did not complete within " +
                    std::to_string(kWaitLimitMs / 1000) + " seconds";
            return false;
        }
        FwClock::Get().SleepMs(kPollMs);
    }
}

bool WireBackend::WaitDetached(const std::string& volumeId, const std::string& region, std::string& error) {
    const int64_t end = FwClock::NowMs() + kWaitLimitMs;
    for (;;) {
        Ec2Volume v;
        if (!DescribeVolume(volumeId, region, v, error)) return false;
        if (v.instanceId.empty()) return true;
        if (v.state == "error") {
            error = "IncorrectState: volume " + volumeId + " failed";
            return false;
        }
        if (FwClock::NowMs() >= end) {
            error = "RequestTimeout: detaching volume " + volumeId + " did not complete within " +
                    std::to_string(kWaitLimitMs / 1000) + " seconds";
            return false;
        }
        FwClock::Get().SleepMs(kPollMs);
    }
}

bool WireBackend::FirstZone(const std::string& region, std::string& zone, std::string& error) {
    zone.clear();
    if (!Ec2Items("DescribeAvailabilityZones", {}, "availabilityZoneInfo/item",
                  [&](const pugi::xml_node& item) {
                      // Not a Local or Wavelength Zone, and not one that is
                      // impaired or unavailable.
                      const std::string type = item.child_value("zoneType");
                      if (!type.empty() && type != "availability-zone") return;
                      if (std::string("available") != item.child_value("zoneState")) return;
                      const std::string name = item.child_value("zoneName");
                      if (zone.empty() || name < zone) zone = name;
                  },
                  error, region, 0))
        return false;
    if (!zone.empty()) return true;
    error = "InvalidParameterValue: region " + region + " offers no availability zone";
    return false;
}

bool WireBackend::LaunchImage(const SVMInfo& vm, const std::string& region, std::string& imageId,
                              std::string& error) {
    if (!vm.amiId.empty()) {
        std::string state;
        bool found = false;
        if (!Ec2Items("DescribeImages", {{"ImageId.1", vm.amiId}}, "imagesSet/item",
                      [&](const pugi::xml_node& item) {
                          found = true;
                          state = item.child_value("imageState");
                      },
                      error, region, 0) &&
            error.rfind("InvalidAMIID", 0) != 0)
            return false;
        if (found && state == "available") {
            imageId = vm.amiId;
            return true;
        }
    }
    // No image of its own (or one gone): the platform's base image.
    nlohmann::json answer;
    const char* parameter = IsWindowsGuest(vm) ? kWindowsBaseImage : kLinuxBaseImage;
    if (!Ssm("GetParameter", {{"Name", parameter}}, answer, error, region)) {
        error = "InvalidAMIID.NotFound: no image to launch (" + (vm.amiId.empty() ? std::string("none given") : vm.amiId) +
                "), and the base image could not be found: " + error;
        return false;
    }
    imageId = answer["Parameter"].value("Value", std::string());
    if (!imageId.empty()) return true;
    error = std::string("InvalidAMIID.NotFound: parameter ") + parameter + " names no image";
    return false;
}

bool WireBackend::Launch(SVMInfo& vm, const std::string& region, const std::map<std::string, std::string>& tags,
                         std::vector<std::string>& warnings, std::string& instanceId, std::string& error) {
    std::string imageId;
    if (!LaunchImage(vm, region, imageId, error)) return false;

    // The subnet asked for (whose zone it is, when none is asked for), else
    // the zone's default one; its VPC holds the security groups.
    std::string zone = vm.zone;
    std::string subnetId = vm.networkCards.empty() ? "" : vm.networkCards.front().subnetId;
    const std::string interfaceId =
        !vm.networkCards.empty() && vm.networkCards.front().id.rfind("eni-", 0) == 0 ? vm.networkCards.front().id : "";
    const bool subnetAsked = !subnetId.empty();
    if (!subnetAsked && zone.empty() && !FirstZone(region, zone, error)) return false;
    QueryParams subnetQuery;
    if (subnetAsked) {
        subnetQuery = {{"SubnetId.1", subnetId}};
    } else {
        AddFilter(subnetQuery, "availability-zone", zone);
        AddFilter(subnetQuery, "default-for-az", "true");
    }
    std::string vpcId, subnetZone;
    bool subnetFound = false;
    if (!Ec2Items("DescribeSubnets", subnetQuery, "subnetSet/item",
                  [&](const pugi::xml_node& item) {
                      if (subnetFound) return;
                      subnetFound = true;
                      subnetId = item.child_value("subnetId");
                      vpcId = item.child_value("vpcId");
                      subnetZone = item.child_value("availabilityZone");
                  },
                  error, region, 0))
        return false;
    if (subnetAsked) {
        if (!subnetFound) {
            error = "InvalidSubnetID.NotFound: The subnet ID '" + subnetId + "' does not exist";
            return false;
        }
        if (zone.empty()) zone = subnetZone;
        if (subnetZone != zone) {
            error = "InvalidParameterValue: Value (" + zone + ") for parameter availabilityZone is invalid. Subnet '" +
                    subnetId + "' is in the availability zone " + subnetZone;
            return false;
        }
    }

    // Unknown groups and key pair: launched without them, each a warning.
    std::vector<std::string> groups;
    for (const auto& g : vm.securityGroups) {
        const std::string wanted = g.id.empty() ? g.name : g.id;
        QueryParams params;
        AddFilter(params, wanted.rfind("sg-", 0) == 0 ? "group-id" : "group-name", wanted);
        if (!vpcId.empty()) AddFilter(params, "vpc-id", vpcId);
        std::string id;
        if (!Ec2Items("DescribeSecurityGroups", params, "securityGroupInfo/item",
                      [&](const pugi::xml_node& item) {
                          if (id.empty()) id = item.child_value("groupId");
                      },
                      error, region, 1000))
            return false;
        if (id.empty())
            warnings.push_back("InvalidGroup.NotFound: The security group '" + wanted + "' does not exist in VPC '" +
                               vpcId + "'");
        else if (std::find(groups.begin(), groups.end(), id) == groups.end())
            groups.push_back(id);
    }
    std::string keyName = vm.keyPairs.empty() ? "" : vm.keyPairs.front().name;
    if (!keyName.empty()) {
        QueryParams params;
        AddFilter(params, "key-name", keyName);
        bool known = false;
        if (!Ec2Items("DescribeKeyPairs", params, "keySet/item", [&](const pugi::xml_node&) { known = true; },
                      error, region, 0))
            return false;
        if (!known) {
            warnings.push_back("InvalidKeyPair.NotFound: The key pair '" + keyName + "' does not exist");
            keyName.clear();
        }
    }

    QueryParams params{{"ImageId", imageId}, {"MinCount", "1"}, {"MaxCount", "1"},
                       {"Placement.AvailabilityZone", zone}};
    // "AUTO" leaves the type to EC2's default for the image.
    if (!vm.instanceType.empty() && strcasecmp(vm.instanceType.c_str(), "auto") != 0)
        params.emplace_back("InstanceType", vm.instanceType);
    if (!interfaceId.empty()) {
        params.emplace_back("NetworkInterface.1.NetworkInterfaceId", interfaceId);
        params.emplace_back("NetworkInterface.1.DeviceIndex", "0");
    } else {
        if (!subnetId.empty()) params.emplace_back("SubnetId", subnetId);
        AddList(params, "SecurityGroupId", groups);
    }
    if (!keyName.empty()) params.emplace_back("KeyName", keyName);
    if (vm.ebsOptimized) params.emplace_back("EbsOptimized", "true");
    if (vm.terminationProtection) params.emplace_back("DisableApiTermination", "true");
    std::map<std::string, std::string> all = tags;
    if (!vm.name.empty()) all["Name"] = vm.name;
    // Marks the instance as the job's until the job removes the tag.
    all["_QX_BACKUP_"] = "";
    AddTagSpecification(params, "instance", all);
    pugi::xml_document doc;
    if (!Ec2("RunInstances", params, doc, error, region)) return false;
    Ec2Instance made = ParseInstance(doc.document_element().child("instancesSet").child("item"));
    if (made.id.empty()) {
        error = "InternalError: RunInstances answered with no instance";
        return false;
    }
    instanceId = made.id;
    vm.zone = zone;
    vm.amiId = imageId;
    if (!made.instanceType.empty()) vm.instanceType = made.instanceType;
    EvDebug::DebugLvl(kWireTag, 2, "launched %s from %s in %s", instanceId.c_str(), imageId.c_str(), zone.c_str());
    return true;
}

bool WireBackend::RestoreVirtualMachine(SVMInfo& vm, bool osDiskExists, const std::map<std::string, std::string>& tags,
                                        bool reuseExisting) {
    std::vector<std::string> warnings;
    const bool ok = Run("RestoreVirtualMachine", true, [&](std::string& error) {
        const std::string region = RegionFor(vm.region);
        pugi::xml_document doc;
        if (reuseExisting) {
            Ec2Instance inst;
            if (!FindInstance("", vm.guid, region, inst, error)) return false;
            vm.guid = inst.id;
            vm.region = region;
            if (inst.state != "stopped" && !Ec2("StopInstances", {{"InstanceId.1", inst.id}}, doc, error, region))
                return false;
        } else {
            std::string id;
            if (!Launch(vm, region, tags, warnings, id, error)) return false;
            // Known from here on, so that a later failure still names what
            // the job must clean up.
            vm.guid = id;
            vm.region = region;
            Ec2Instance running;
            if (!WaitInstanceState(id, region, "running", running, error)) return false;
            if (!Ec2("StopInstances", {{"InstanceId.1", id}}, doc, error, region)) return false;
        }
        Ec2Instance inst;
        if (!WaitInstanceState(vm.guid, region, "stopped", inst, error)) return false;
        // The root volume makes way for the restored one; restoring into an
        // instance, so does every volume at a device a restored disk takes.
        // Those are detached and kept: they are the instance's data.
        std::vector<std::string> devices;
        if (osDiskExists) devices.push_back(inst.rootDeviceName);
        if (reuseExisting)
            for (const auto& disk : vm.disks)
                if (!disk.isOSDisk && !disk.deviceName.empty()) devices.push_back(disk.deviceName);
        std::vector<std::string> moving;
        for (const auto& device : devices)
            for (const auto& d : inst.devices)
                if (d.device == device && !d.volumeId.empty()) moving.push_back(d.volumeId);
        // A launched root volume is the launch's own, nothing of the user's,
        // and goes once detached. Detached, the job's clean-up of the
        // instance no longer takes it with it, so it is marked first: a
        // detach that does not complete or a delete that fails leaves it to
        // the sweep of expired job volumes, and the error names it.
        const bool launchedRoot = !reuseExisting && osDiskExists && !moving.empty();
        if (launchedRoot && !PutTags(moving.front(), {{"_QX_BACKUP_", ""}}, error, region)) return false;
        auto leftBehind = [&](const std::string& volumeId) {
            if (launchedRoot) error += " (launched root volume " + volumeId + " left to the expired-volume sweep)";
            return false;
        };
        for (const auto& volumeId : moving) {
            // Still attached, it goes with the instance.
            if (!Ec2("DetachVolume", {{"VolumeId", volumeId}, {"InstanceId", vm.guid}}, doc, error, region))
                return false;
            if (!WaitDetached(volumeId, region, error)) return leftBehind(volumeId);
        }
        if (!launchedRoot) return true;
        return Ec2("DeleteVolume", {{"VolumeId", moving.front()}}, doc, error, region) || leftBehind(moving.front());
    });
    if (ok) {
        std::string text;
        for (const auto& w : warnings) text += (text.empty() ? "" : "; ") + w;
        m_lastError = text;  // after Run, which clears it on success
    }
    return ok;
}

bool WireBackend::CreateVirtualMachine(SVMInfo& vm, std::string& out, bool creationFlag) {
    return Run("CreateVirtualMachine", true, [&](std::string& error) {
        const std::string region = RegionFor(vm.region);
        SVMInfo request = vm;
        request.amiId = vm.sourceId;
        if (request.amiId.empty()) {
            error = "MissingParameter: The request must contain the parameter ImageId";
            return false;
        }
        // A subnet names its zone; without either, the region's first.
        const std::string subnetId = vm.networkCards.empty() ? "" : vm.networkCards.front().subnetId;
        std::string zone = vm.zone;
        if (zone.empty() && subnetId.empty() && !FirstZone(region, zone, error)) return false;
        // The AMI's volumes come with it; only the root goes with the
        // instance.
        QueryParams params{{"ImageId", request.amiId}, {"MinCount", "1"}, {"MaxCount", "1"}};
        if (!zone.empty()) params.emplace_back("Placement.AvailabilityZone", zone);
        std::string root;
        std::vector<std::string> others;
        if (!Ec2Items("DescribeImages", {{"ImageId.1", request.amiId}}, "imagesSet/item",
                      [&](const pugi::xml_node& item) {
                          root = item.child_value("rootDeviceName");
                          for (pugi::xml_node d : item.child("blockDeviceMapping").children("item"))
                              if (d.child("ebs") && root != d.child_value("deviceName"))
                                  others.push_back(d.child_value("deviceName"));
                      },
                      error, region, 0))
            return false;
        int n = 0;
        for (const auto& device : others) {
            const std::string prefix = "BlockDeviceMapping." + std::to_string(++n);
            params.emplace_back(prefix + ".DeviceName", device);
            params.emplace_back(prefix + ".Ebs.DeleteOnTermination", "false");
        }
        if (!vm.instanceType.empty()) params.emplace_back("InstanceType", vm.instanceType);
        if (!vm.keyPairs.empty() && !vm.keyPairs.front().name.empty())
            params.emplace_back("KeyName", vm.keyPairs.front().name);
        if (!subnetId.empty()) params.emplace_back("SubnetId", subnetId);
        if (!vm.name.empty()) AddTagSpecification(params, "instance", {{"Name", vm.name}});
        pugi::xml_document doc;
        if (!Ec2("RunInstances", params, doc, error, region)) return false;
        const Ec2Instance made = ParseInstance(doc.document_element().child("instancesSet").child("item"));
        if (made.id.empty()) {
            error = "InternalError: RunInstances answered with no instance";
            return false;
        }
        vm.guid = out = made.id;
        vm.region = region;
        vm.zone = made.zone.empty() ? zone : made.zone;
        if (!made.instanceType.empty()) vm.instanceType = made.instanceType;
        if (!creationFlag) return true;
        // EC2 launches running: stopped is one stop away once it runs.
        Ec2Instance running;
        if (!WaitInstanceState(made.id, region, "running", running, error)) return false;
        return Ec2("StopInstances", {{"InstanceId.1", made.id}}, doc, error, region);
    });
}

bool WireBackend::EditVirtualMachine(SVMInfo& vm, std::string& out) {
    return Run("EditVirtualMachine", true, [&](std::string& error) {
        const std::string region = RegionFor(vm.region);
        Ec2Instance inst;
        if (!FindInstance("", vm.guid, region, inst, error)) return false;
        pugi::xml_document doc;
        if (!vm.instanceType.empty() && vm.instanceType != inst.instanceType) {
            if (inst.state != "stopped") {
                error = "IncorrectInstanceState: The instance '" + inst.id + "' is not in the 'stopped' state.";
                return false;
            }
            if (!Ec2("ModifyInstanceAttribute", {{"InstanceId", inst.id}, {"InstanceType.Value", vm.instanceType}},
                     doc, error, region))
                return false;
        }
        if (!vm.name.empty() &&
            !Ec2("CreateTags", {{"ResourceId.1", inst.id}, {"Tag.1.Key", "Name"}, {"Tag.1.Value", vm.name}}, doc,
                 error, region))
            return false;
        out = inst.id;
        return true;
    });
}
