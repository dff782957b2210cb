// AMIs: JSON, settling and error texts.
#include "cloudsim/Images.h"

#include <algorithm>

#include "cloudsim/CloudState.h"
#include "cloudsim/Ownership.h"
#include "cloudsim/Tags.h"

namespace cloudsim {

using namespace schema;

const Table<Image>& ImageTable() {
    using I = Image;
    static const Table<I> table{
        {Required("id", &I::id), Member("account", &I::account), Member("region", &I::region),
         Member("name", &I::name), Member("description", &I::description), Member("platform", &I::platform),
         Member("architecture", &I::architecture), Member("virtualizationType", &I::virtualizationType),
         Member("rootDeviceName", &I::rootDeviceName), Member("instanceType", &I::instanceType),
         Member("sourceInstanceId", &I::sourceInstanceId), Member("snapshotIds", &I::snapshotIds),
         Member("state", &I::state), Member("tags", &I::tags), Member("createdMs", &I::createdMs),
         Member("isPublic", &I::isPublic), PendingField("pending", &I::pending)}};
    return table;
}

void CheckImages(const State& s) {
    for (const auto& [id, image] : s.images) {
        if (!image.isPublic) CheckAccountKnown(s, "image " + id, image.account);
        CheckRegionKnown(s, "image " + id, image.region);
        for (const auto& snapId : image.snapshotIds)
            if (!s.snapshots.count(snapId) && image.state != "deregistered")
                Fail("image " + id, "lists unknown snapshot " + snapId);
    }
}

void SettleImages(State& s, int64_t now) {
    for (auto& [id, image] : s.images) {
        if (!image.pending.Due(now)) continue;
        image.state = image.pending.fault == "error" ? "failed" : image.pending.to;
        image.pending = {};
    }
}

Image* CreateImage(State& s, const ImageRequest& request, int64_t now, const FaultHit& hit, std::string& error) {
    const std::string& instanceId = request.instanceId;
    const Instance* inst = FindOwned(s.instances, instanceId, request.account, request.region);
    if (!inst || inst->state == "terminated") {
        error = InstanceNotFound(instanceId);
        return nullptr;
    }
    if (inst->state != "running" && inst->state != "stopped" && inst->state != "stopping") {
        error = IncorrectState(instanceId, "' is not in a valid state for this operation.");
        return nullptr;
    }
    Image image;
    image.id = s.NewId("ami");
    image.name = request.amiName.empty() ? (request.name.empty() ? "image" : request.name) + "_" + image.id
                                         : request.amiName;
    for (const auto& [id, other] : s.images) {
        if (other.account != request.account || other.region != request.region || other.name != image.name ||
            other.state == "deregistered")
            continue;
        error = "InvalidAMIName.Duplicate: AMI name " + image.name + " is already in use by AMI " + id;
        return nullptr;
    }
    image.account = request.account;
    image.region = request.region;
    image.description = request.description;
    image.platform = inst->platform;
    image.virtualizationType = inst->virtualizationType;
    image.instanceType = inst->instanceType;
    image.sourceInstanceId = instanceId;
    image.rootDeviceName = RootDeviceOf(*inst);
    image.state = "pending";
    image.createdMs = now;
    image.pending = {"available", now + s.timing.amiMs, hit.EffectFor({image.id, instanceId})};
    if (!request.name.empty()) {
        if (!CheckTag("Name", request.name, error)) return nullptr;
        image.tags["Name"] = request.name;
    }
    const std::vector<std::string>& excluded = request.excluded;
    for (const auto& volId : inst->volumeIds) {
        const Volume& v = s.volumes.at(volId);
        bool root = image.snapshotIds.empty();
        if (v.AttachmentState() != "attached" && v.AttachmentState() != "detaching") continue;
        if (!root && std::find(excluded.begin(), excluded.end(), volId) != excluded.end()) continue;
        if (root && !v.attachedDevice.empty()) image.rootDeviceName = v.attachedDevice;
        Snapshot snap =
            SnapshotOf(s, v, s.NewId("snap"), "Created by CreateImage(" + instanceId + ") for " + image.id, now);
        snap.pending = {"completed", image.pending.readyAtMs, image.pending.fault};
        image.snapshotIds.push_back(snap.id);
        s.snapshots[snap.id] = snap;
    }
    if (image.snapshotIds.empty()) {
        error = "InvalidParameterValue: Instance '" + instanceId + "' has no attached volume";
        return nullptr;
    }
    return &(s.images[image.id] = image);
}

bool ImageTaskOver(const Image& image, bool& succeeded, std::string& failure) {
    succeeded = image.state == "available";
    if (image.state == "pending") return false;
    if (!succeeded) failure = "InternalError: AMI " + image.id + " is " + image.state;
    return true;
}

bool CancelImage(State& s, Image& image, std::string& error) {
    if (image.state != "pending") {
        error = "IncorrectState: AMI '" + image.id + "' is in the '" + image.state + "' state and cannot be cancelled";
        return false;
    }
    image.state = "cancelled";
    image.pending = {};
    for (const auto& snapId : image.snapshotIds) {
        auto it = s.snapshots.find(snapId);
        if (it == s.snapshots.end() || it->second.state != "pending") continue;
        it->second.state = "error";
        it->second.pending = {};
    }
    return true;
}

void DeregisterImage(State& s, Image& image) {
    image.state = "deregistered";
    image.pending = {};
    for (const auto& snapId : image.snapshotIds) {
        auto it = s.snapshots.find(snapId);
        if (it != s.snapshots.end() && it->second.account == image.account) s.snapshots.erase(it);
    }
}

std::string ImageNotFound(const std::string& id) {
    return "InvalidAMIID.NotFound: The image id '[" + id + "]' does not exist";
}

}  // namespace cloudsim
