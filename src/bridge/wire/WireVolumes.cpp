// The wire backend's volumes: create (empty or from a snapshot), attach
// (also at the root device), detach, delete, describe, modify; the expired
// ones of a job swept away.
#include <algorithm>
#include <set>

#include "bridge/BridgeText.h"
#include "bridge/wire/WireBackend.h"
#include "bridge/wire/WireEc2Records.h"
#include "framework/Clock.h"

using namespace bridgeimpl;
using namespace bridgeimpl::wire;

namespace {

long long WholeGiB(long long bytes) { return (bytes + kGiB - 1) / kGiB; }

// The refusals AttachVolume reports through its conflict flag.
bool IsConflict(const std::string& error) {
    return error.rfind("VolumeInUse", 0) == 0 ||
           (error.rfind("InvalidParameterValue", 0) == 0 && error.find("Attachment point") != std::string::npos);
}

}  // namespace

bool WireBackend::CreateVolume(VMInfoStructs::SDisk& disk, bool, const std::string& option) {
    return Run("CreateVolume", true, [&](std::string& error) {
        QueryParams params{{"AvailabilityZone", disk.zone}, {"Size", std::to_string(WholeGiB(disk.size))}};
        if (!disk.volumeType.empty()) params.emplace_back("VolumeType", disk.volumeType);
        if (disk.iops > 0 && TakesIops(disk.volumeType)) params.emplace_back("Iops", std::to_string(disk.iops));
        if (disk.encrypted) params.emplace_back("Encrypted", "true");
        if (disk.encrypted && !disk.kmsKeyId.empty()) params.emplace_back("KmsKeyId", disk.kmsKeyId);
        if (option.rfind("arn:aws:outposts:", 0) == 0) params.emplace_back("OutpostArn", option);
        pugi::xml_document doc;
        if (!Ec2("CreateVolume", params, doc, error, disk.zone)) return false;
        disk.newVolumeId = doc.document_element().child_value("volumeId");
        return true;
    });
}

bool WireBackend::CreateVolume(const std::string& snapshotId, const std::string& zone, const std::string& name,
                               const std::string& type, int iops, long long size, bool encrypted,
                               const std::string& kmsKeyId, std::string& volumeId,
                               const std::map<std::string, std::string>& tags, bool, const std::string& outpostArn) {
    return Run("CreateVolume", true, [&](std::string& error) {
        QueryParams params{{"AvailabilityZone", zone}, {"SnapshotId", snapshotId}};
        // 0 keeps the snapshot's size; EC2 then takes it from the snapshot.
        if (size > 0) params.emplace_back("Size", std::to_string(WholeGiB(size)));
        if (!type.empty()) params.emplace_back("VolumeType", type);
        if (iops > 0 && TakesIops(type)) params.emplace_back("Iops", std::to_string(iops));
        if (encrypted) params.emplace_back("Encrypted", "true");
        if (encrypted && !kmsKeyId.empty()) params.emplace_back("KmsKeyId", kmsKeyId);
        if (!outpostArn.empty()) params.emplace_back("OutpostArn", outpostArn);
        std::map<std::string, std::string> all = tags;
        if (!name.empty()) all["Name"] = name;
        AddTagSpecification(params, "volume", all);
        pugi::xml_document doc;
        if (!Ec2("CreateVolume", params, doc, error, zone)) return false;
        volumeId = doc.document_element().child_value("volumeId");
        return true;
    });
}

bool WireBackend::DescribeVolume(const std::string& volumeId, const std::string& region, Ec2Volume& out,
                                 std::string& error) {
    bool found = false;
    if (!Ec2Items("DescribeVolumes", {{"VolumeId.1", volumeId}}, "volumeSet/item",
                  [&](const pugi::xml_node& item) {
                      out = ParseVolume(item);
                      found = true;
                  },
                  error, region, 0))
        return false;
    if (!found) error = "InvalidVolume.NotFound: The volume '" + volumeId + "' does not exist.";
    return found;
}

bool WireBackend::Attach(const char* op, const std::string& volumeId, const std::string& instanceId,
                         const std::string& device, bool asRoot, bool& conflict) {
    conflict = false;
    return Run(op, true, [&](std::string& error) {
        Ec2Instance inst;
        if (!FindInstance("", instanceId, "", inst, error)) return false;
        std::string at = device;
        if (asRoot) {
            at = inst.rootDeviceName;
        } else if (at.empty()) {
            // The next free of /dev/sdf, /dev/sdg, ... as the instance maps them.
            std::set<std::string> taken;
            for (const auto& d : inst.devices) taken.insert(d.device);
            for (char c = 'f'; c <= 'z' && at.empty(); ++c) {
                const std::string name = std::string("/dev/sd") + c;
                if (!taken.count(name) && !taken.count(std::string("/dev/xvd") + c)) at = name;
            }
            if (at.empty()) {
                error = "AttachmentLimitExceeded: no free device name on instance " + instanceId;
                return false;
            }
        }
        pugi::xml_document doc;
        if (Ec2("AttachVolume", {{"VolumeId", volumeId}, {"InstanceId", instanceId}, {"Device", at}}, doc, error))
            return true;
        conflict = IsConflict(error);
        return false;
    });
}

bool WireBackend::AttachVolume(const std::string& volumeId, const std::string& instanceId, const std::string&, bool,
                               const std::string& device, bool& conflict, bool) {
    return Attach("AttachVolume", volumeId, instanceId, device, false, conflict);
}

bool WireBackend::AttachAsOSVolume(const std::string& volumeId, const std::string& instanceId, const std::string&,
                                   bool, const std::string& device, bool& conflict, bool) {
    return Attach("AttachAsOSVolume", volumeId, instanceId, device, true, conflict);
}

bool WireBackend::DetachVolume(const std::string& volumeId, bool force, bool) {
    return Run("DetachVolume", true, [&](std::string& error) {
        // EC2 finds the attachment from the volume alone; naming it as well
        // keeps a detach from reaching an attachment made since.
        Ec2Volume v;
        if (!DescribeVolume(volumeId, "", v, error)) return false;
        QueryParams params{{"VolumeId", volumeId}};
        if (!v.instanceId.empty()) params.emplace_back("InstanceId", v.instanceId);
        if (!v.device.empty()) params.emplace_back("Device", v.device);
        if (force) params.emplace_back("Force", "true");
        pugi::xml_document doc;
        return Ec2("DetachVolume", params, doc, error);
    });
}

bool WireBackend::DeleteVolume(const std::string& volumeId, bool) {
    return Run("DeleteVolume", true, [&](std::string& error) {
        pugi::xml_document doc;
        return Ec2("DeleteVolume", {{"VolumeId", volumeId}}, doc, error);
    });
}

bool WireBackend::GetVolumeInfo(const std::string& volumeId, const std::string& region, VMInfoStructs::SDisk& disk,
                                bool& notFound) {
    notFound = false;
    return Run("GetVolumeInfo", true, [&](std::string& error) {
        Ec2Volume v;
        if (DescribeVolume(volumeId, region, v, error)) {
            disk = ToDisk(v, false);
            return true;
        }
        if (error.rfind("InvalidVolume.NotFound", 0) != 0) return false;
        notFound = true;
        return true;
    });
}

bool WireBackend::ModifyVolume(const std::string& volumeId, const std::string& region, const std::string& type,
                               int iops) {
    return Run("ModifyVolume", true, [&](std::string& error) {
        QueryParams params{{"VolumeId", volumeId}};
        if (!type.empty()) params.emplace_back("VolumeType", type);
        // As on create: EC2 refuses IOPS for a type with baseline
        // performance only (gp2, st1, sc1, standard).
        if (iops > 0 && (type.empty() || TakesIops(type))) params.emplace_back("Iops", std::to_string(iops));
        pugi::xml_document doc;
        return Ec2("ModifyVolume", params, doc, error, region);
    });
}

bool WireBackend::GetVolumeModifyTaskInfo(const std::string& volumeId, const std::string& region, std::string& state) {
    return Run("GetVolumeModifyTaskInfo", true, [&](std::string& error) {
        // A volume modified more than once lists each; the latest started
        // is the one in progress. ISO 8601 texts sort as their times.
        std::string latestStart;
        bool found = false;
        if (!Ec2Items("DescribeVolumesModifications", {{"VolumeId.1", volumeId}}, "volumeModificationSet/item",
                      [&](const pugi::xml_node& item) {
                          const std::string start = item.child_value("startTime");
                          if (found && start < latestStart) return;
                          found = true;
                          latestStart = start;
                          state = item.child_value("modificationState");
                      },
                      error, region, 0))
            return false;
        if (found) return true;
        error = "InvalidVolumeModification.NotFound: Modification for volume '" + volumeId + "' does not exist.";
        return false;
    });
}

bool WireBackend::DeleteExpiredVolumes(const std::string& region, long long ageSeconds) {
    return Run("DeleteExpiredVolumes", true, [&](std::string& error) {
        const int64_t cutoff = ExpiryCutoffMs(ageSeconds, FwClock::NowMs()) / 1000;
        QueryParams params;
        AddFilter(params, "status", "available");
        AddFilter(params, "tag-key", "_QX_BACKUP_");
        std::vector<std::string> expired;
        if (!Ec2Items("DescribeVolumes", params, "volumeSet/item",
                      [&](const pugi::xml_node& item) {
                          const int64_t created = ParseAwsTime(item.child_value("createTime"));
                          if (created >= 0 && created < cutoff) expired.push_back(item.child_value("volumeId"));
                      },
                      error, region, 500))
            return false;
        for (const auto& id : expired) {
            pugi::xml_document doc;
            // Gone since the listing: another clean-up was there first.
            if (!Ec2("DeleteVolume", {{"VolumeId", id}}, doc, error, region) &&
                error.rfind("InvalidVolume.NotFound", 0) != 0)
                return false;
        }
        error.clear();
        return true;
    });
}

bool WireBackend::IsMarketPlaceVolume(const std::string& volumeId, const std::string& region) {
    bool marketplace = false;
    const bool ok = Run("IsMarketPlaceVolume", true, [&](std::string& error) {
        pugi::xml_document doc;
        if (!Ec2("DescribeVolumeAttribute", {{"VolumeId", volumeId}, {"Attribute", "productCodes"}}, doc, error,
                 region))
            return false;
        marketplace = static_cast<bool>(doc.document_element().child("productCodes").child("item"));
        return true;
    });
    return ok && marketplace;
}

bool WireBackend::GetDiskMetadata(const std::string& volumeId, const std::string& region,
                                  std::vector<VMInfoStructs::SDiskMetadataInfo>& metadata) {
    return Run("GetDiskMetadata", true, [&](std::string& error) {
        Ec2Volume v;
        if (!DescribeVolume(volumeId, region, v, error)) return false;
        metadata = DiskMetadataOf({v.volumeType, v.kmsKeyId, v.state, v.zone, v.sizeBytes / kGiB, v.iops, v.encrypted});
        return true;
    });
}
