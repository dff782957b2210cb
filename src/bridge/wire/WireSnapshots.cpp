// The wire backend's snapshots and AMIs: create, describe, tag, delete.
#include <algorithm>

#include "framework/Clock.h"
#include "bridge/wire/WireBackend.h"
#include "bridge/wire/WireEc2Records.h"

using namespace bridgeimpl;
using namespace bridgeimpl::wire;

namespace {
bool IsNotFound(const std::string& error, const char* prefix) { return error.rfind(prefix, 0) == 0; }
}  // namespace

bool WireBackend::CreateSnapshot(const std::string& volumeId, const std::string& name, const std::string& description,
                                 std::string& snapshotId, bool) {
    return Run("CreateSnapshot", true, [&](std::string& error) {
        QueryParams params{{"VolumeId", volumeId}};
        if (!description.empty()) params.emplace_back("Description", description);
        if (!name.empty()) AddTagSpecification(params, "snapshot", {{"Name", name}});
        pugi::xml_document doc;
        if (!Ec2("CreateSnapshot", params, doc, error)) return false;
        snapshotId = doc.document_element().child_value("snapshotId");
        return true;
    });
}

bool WireBackend::DeleteSnapshot(const std::string& snapshotId, const std::string& region) {
    return Run("DeleteSnapshot", true, [&](std::string& error) {
        pugi::xml_document doc;
        return Ec2("DeleteSnapshot", {{"SnapshotId", snapshotId}}, doc, error, region);
    });
}

bool WireBackend::GetSnapshotInfo(const std::string& snapshotId, const std::string& region,
                                  VMInfoStructs::SChildDisk& snapshot) {
    return Run("GetSnapshotInfo", true, [&](std::string& error) {
        bool found = false;
        if (!Ec2Items("DescribeSnapshots", {{"SnapshotId.1", snapshotId}}, "snapshotSet/item",
                      [&](const pugi::xml_node& item) {
                          snapshot.snapshotId = item.child_value("snapshotId");
                          snapshot.volumeId = item.child_value("volumeId");
                          snapshot.description = item.child_value("description");
                          snapshot.state = item.child_value("status");
                          // In KiB, as the contract has it.
                          snapshot.size = std::atoll(item.child_value("volumeSize")) * (kGiB / 1024);
                          snapshot.usedSize = snapshot.size;
                          found = true;
                      },
                      error, region, 0))
            return false;
        if (!found) error = "InvalidSnapshot.NotFound: The snapshot '" + snapshotId + "' does not exist.";
        return found;
    });
}

bool WireBackend::ImageSnapshots(const std::string& amiId, std::vector<std::string>& snapshotIds, std::string& state,
                                 std::string& error) {
    bool found = false;
    std::string root;
    std::vector<std::string> others;
    if (!Ec2Items("DescribeImages", {{"ImageId.1", amiId}}, "imagesSet/item",
                  [&](const pugi::xml_node& item) {
                      found = true;
                      state = item.child_value("imageState");
                      const std::string rootDevice = item.child_value("rootDeviceName");
                      for (pugi::xml_node d : item.child("blockDeviceMapping").children("item")) {
                          const std::string snap = d.child("ebs").child_value("snapshotId");
                          if (snap.empty()) continue;
                          if (d.child_value("deviceName") == rootDevice && root.empty()) root = snap;
                          else others.push_back(snap);
                      }
                  },
                  error, "", 0))
        return false;
    if (!found) {
        error = "InvalidAMIID.NotFound: The image id '[" + amiId + "]' does not exist";
        return false;
    }
    snapshotIds.clear();
    if (!root.empty()) snapshotIds.push_back(root);
    snapshotIds.insert(snapshotIds.end(), others.begin(), others.end());
    return true;
}

bool WireBackend::CreateAMISnapshot(const std::string& instanceId, const std::string& region, const std::string& name,
                                    const std::string& option, const std::string& description,
                                    std::vector<std::string>& snapshotIds, std::string& amiId) {
    return Run("CreateAMISnapshot", true, [&](std::string& error) {
        Ec2Instance inst;
        if (!FindInstance("", instanceId, region, inst, error)) return false;
        // AWS names the AMI before it has an id; the time keeps a generated
        // name unique in the account and region instead.
        const std::string amiName = option.empty() ? name + "_" + std::to_string(FwClock::NowMs()) : option;
        QueryParams params{{"InstanceId", inst.id}, {"Name", amiName}, {"NoReboot", "true"}};
        if (!description.empty()) params.emplace_back("Description", description);
        // Volumes left out are mapped to no device; never the root.
        int n = 0;
        for (const auto& d : inst.devices) {
            if (d.device == inst.rootDeviceName) continue;
            if (std::find(snapshotIds.begin(), snapshotIds.end(), d.volumeId) == snapshotIds.end()) continue;
            const std::string prefix = "BlockDeviceMapping." + std::to_string(++n);
            params.emplace_back(prefix + ".DeviceName", d.device);
            params.emplace_back(prefix + ".NoDevice", "");
        }
        if (!name.empty()) AddTagSpecification(params, "image", {{"Name", name}});
        pugi::xml_document doc;
        if (!Ec2("CreateImage", params, doc, error, region)) return false;
        amiId = doc.document_element().child_value("imageId");
        std::string state;
        return ImageSnapshots(amiId, snapshotIds, state, error);
    });
}

bool WireBackend::IsAMITaskCompleted(const std::string& amiId, bool& succeeded) {
    succeeded = false;
    std::string state;
    std::vector<std::string> snapshots;
    if (!Run("IsAMITaskCompleted", true,
             [&](std::string& error) { return ImageSnapshots(amiId, snapshots, state, error); }))
        return true;  // a failed call counts as done without success
    succeeded = state == "available";
    return state != "pending";
}

bool WireBackend::TagEBSSnapshotsForAMI(const std::string& amiId, const std::string& key, const std::string& value) {
    return Run("TagEBSSnapshotsForAMI", true, [&](std::string& error) {
        std::vector<std::string> snapshots;
        std::string state;
        if (!ImageSnapshots(amiId, snapshots, state, error)) return false;
        if (snapshots.empty()) return true;
        QueryParams params;
        AddList(params, "ResourceId", snapshots);
        params.emplace_back("Tag.1.Key", key);
        params.emplace_back("Tag.1.Value", value);
        pugi::xml_document doc;
        return Ec2("CreateTags", params, doc, error);
    });
}

bool WireBackend::DeleteAMISnapshot(const std::string& amiId, bool) {
    return Run("DeleteAMISnapshot", true, [&](std::string& error) {
        std::vector<std::string> snapshots;
        std::string state;
        if (!ImageSnapshots(amiId, snapshots, state, error))
            // Already deregistered and gone: nothing is left to delete.
            return IsNotFound(error, "InvalidAMIID.NotFound") || IsNotFound(error, "InvalidAMIID.Unavailable");
        pugi::xml_document doc;
        if (!Ec2("DeregisterImage", {{"ImageId", amiId}}, doc, error)) return false;
        for (const auto& snap : snapshots)
            if (!Ec2("DeleteSnapshot", {{"SnapshotId", snap}}, doc, error) &&
                !IsNotFound(error, "InvalidSnapshot.NotFound"))
                return false;
        return true;
    });
}

bool WireBackend::GetAMIListForTags(const std::map<std::string, std::string>& tags, std::vector<std::string>& amiIds) {
    return Run("GetAMIListForTags", true, [&](std::string& error) {
        QueryParams params{{"Owner.1", "self"}};
        for (const auto& [key, value] : tags) AddFilter(params, "tag:" + key, value);
        std::vector<std::pair<std::string, std::string>> found;  // creation date, id
        if (!Ec2Items("DescribeImages", params, "imagesSet/item",
                      [&](const pugi::xml_node& item) {
                          found.emplace_back(item.child_value("creationDate"), item.child_value("imageId"));
                      },
                      error, "", 0))
            return false;
        // ISO 8601 texts sort as their times: oldest first.
        std::sort(found.begin(), found.end());
        amiIds.clear();
        for (const auto& f : found) amiIds.push_back(f.second);
        return true;
    });
}

bool WireBackend::DeleteExpiredAMISnapshot(const std::string& amiId, bool sourceCall, long long hours) {
    if (!Run("DeleteExpiredAMISnapshot", true, [&](std::string& error) {
            std::string created;
            bool found = false;
            if (!Ec2Items("DescribeImages", {{"ImageId.1", amiId}}, "imagesSet/item",
                          [&](const pugi::xml_node& item) {
                              found = true;
                              created = item.child_value("creationDate");
                          },
                          error, "", 0))
                return false;
            if (!found) {
                error = "InvalidAMIID.NotFound: The image id '[" + amiId + "]' does not exist";
                return false;
            }
            const int64_t createdSec = ParseAwsTime(created);
            if (createdSec < 0) {
                error = "InternalError: AMI " + amiId + " has no creation date EC2 could be read from (\"" + created +
                        "\")";
                return false;
            }
            if (FwClock::NowSec() - createdSec < hours * 3600) {
                error = "AMIExpiry: AMI " + amiId + " has not expired";
                return false;
            }
            return true;
        }))
        return false;
    return DeleteAMISnapshot(amiId, sourceCall);
}

bool WireBackend::SnapshotPermission(const char* op, const char* operation, const std::string& snapshotId,
                                     const std::string& accountId) {
    return Run(op, true, [&](std::string& error) {
        pugi::xml_document doc;
        return Ec2("ModifySnapshotAttribute",
                   {{"SnapshotId", snapshotId},
                    {"Attribute", "createVolumePermission"},
                    {"OperationType", operation},
                    {"UserId.1", accountId}},
                   doc, error);
    });
}

bool WireBackend::ShareSnapshot(const std::string& snapshotId, const std::string& accountId) {
    return SnapshotPermission("ShareSnapshot", "add", snapshotId, accountId);
}

bool WireBackend::UnshareSnapshot(const std::string& snapshotId, const std::string& accountId) {
    return SnapshotPermission("UnshareSnapshot", "remove", snapshotId, accountId);
}

bool WireBackend::CopySnapshot(const std::string& snapshotId, const std::string& sourceRegion,
                               const std::string& destinationRegion, bool encrypted, const std::string& kmsKeyId,
                               std::string& newSnapshotId) {
    return Run("CopySnapshot", true, [&](std::string& error) {
        const std::string from = RegionFor(sourceRegion);
        const std::string to = RegionFor(destinationRegion);
        QueryParams params{{"SourceRegion", from}, {"SourceSnapshotId", snapshotId}};
        // EC2 takes a key only for an encrypted copy.
        if (encrypted || !kmsKeyId.empty()) params.emplace_back("Encrypted", "true");
        if (!kmsKeyId.empty()) params.emplace_back("KmsKeyId", kmsKeyId);
        params.emplace_back("DestinationRegion", to);
        // EC2 in the destination reads an encrypted source through a request
        // presigned for the source region; the SDKs send one with every copy.
        const std::string presigned = m_client.PresignedQuery("ec2", kEc2Version, from, "CopySnapshot", params, 3600);
        params.emplace_back("PresignedUrl", presigned);
        pugi::xml_document doc;
        if (!Ec2("CopySnapshot", params, doc, error, to)) return false;
        newSnapshotId = doc.document_element().child_value("snapshotId");
        if (!newSnapshotId.empty()) return true;
        error = "InternalError: CopySnapshot of " + snapshotId + " answered with no snapshot id";
        return false;
    });
}
