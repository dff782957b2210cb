#include "support/ConnectedFixture.h"

#include "framework/BiosInfo.h"

SHostCredentials DemoAdmin(const std::string& region) {
    return SHostCredentials("", region, demo::kAdminKey, demo::kAdminSecret, 5);
}

int ConnectDemo(CAmazonInfo& object, Accounts accounts, const std::string& region) {
    switch (accounts) {
        case Accounts::Source:
            return object.Connect(region, demo::kSourceKey, demo::kSourceSecret);
        case Accounts::SourceAndAdmin:
            return object.Connect(region, demo::kSourceKey, demo::kSourceSecret, {DemoAdmin(region)});
        case Accounts::Admin:
            return object.Connect(region, demo::kAdminKey, demo::kAdminSecret);
    }
    return 0;
}

std::unique_ptr<CAmazonInfo> DemoCloudFixture::Connected(Accounts accounts, CAmazonInfo::BridgeFactory bridges) {
    auto object = bridges ? std::make_unique<CAmazonInfo>(kAmazonInstanceType, std::move(bridges))
                          : std::make_unique<CAmazonInfo>(kAmazonInstanceType);
    if (ConnectDemo(*object, accounts) != 1) return nullptr;
    return object;
}

void DemoCloudFixture::OnAnEC2Proxy() {
    FwBios::SetOverride(FwBiosValues{"Amazon EC2", "m5.large", "uuid-proxy", "1.0"});
}

namespace {
// The record of id in one of the state's maps; a default one when missing.
template <class Map>
typename Map::mapped_type Find(const Map& map, const std::string& id) {
    auto it = map.find(id);
    return it == map.end() ? typename Map::mapped_type{} : it->second;
}
}  // namespace

cloudsim::Volume DemoCloudFixture::Volume(const std::string& id) {
    return Peek([&](const cloudsim::State& s) { return Find(s.volumes, id); });
}

cloudsim::Snapshot DemoCloudFixture::Snapshot(const std::string& id) {
    return Peek([&](const cloudsim::State& s) { return Find(s.snapshots, id); });
}

cloudsim::Image DemoCloudFixture::Image(const std::string& id) {
    return Peek([&](const cloudsim::State& s) { return Find(s.images, id); });
}

cloudsim::Instance DemoCloudFixture::Instance(const std::string& id) {
    return Peek([&](const cloudsim::State& s) { return Find(s.instances, id); });
}

bool DemoCloudFixture::ImageLives(const std::string& id) {
    const cloudsim::Image image = Image(id);
    return !image.id.empty() && image.state != "deregistered";
}

std::vector<std::string> DemoCloudFixture::LiveImagesOf(const std::string& instance) {
    return Peek([&](const cloudsim::State& s) {
        std::vector<std::string> ids;
        for (const auto& [id, image] : s.images)
            if (image.sourceInstanceId == instance && image.state != "deregistered") ids.push_back(id);
        return ids;
    });
}

std::string DemoCloudFixture::InstanceTag(const std::string& instance, const std::string& key) {
    const auto tags = Instance(instance).tags;
    auto it = tags.find(key);
    return it == tags.end() ? "<none>" : it->second;
}
