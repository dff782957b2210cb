// AMIs: JSON, settling and error texts.
#include "cloudsim/Images.h"

#include "cloudsim/CloudState.h"

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

std::string ImageNotFound(const std::string& id) {
    return "InvalidAMIID.NotFound: The image id '[" + id + "]' does not exist";
}

}  // namespace cloudsim
