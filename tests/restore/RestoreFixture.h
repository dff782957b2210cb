#pragma once
// A plug-in object on the demo cloud for the restore tests. Unless a test
// says otherwise the object is connected to the source account alone and
// the proxy is web-server-01 (us-east-1a) of that account.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "framework/Clock.h"
#include "support/ConnectedFixture.h"

namespace restore {

const char kWeb[] = "i-0a1b2c3d4e5f60001";  // web-server-01, us-east-1a: the proxy
const char kDb[] = "i-0a1b2c3d4e5f60002";   // db-server-01, us-east-1b
constexpr long long kGiB = 1LL << 30;

struct RestoreFixture : DemoCloudFixture {
    void SetUp() override {
        SetProxy(kWeb);
        OnAnEC2Proxy();
    }

    void SetProxy(const std::string& id) {
        cloud->Write([&](cloudsim::State& s) { s.proxyInstanceId = id; });
    }

    static std::unique_ptr<CAmazonInfo> Connected(CAmazonInfo::BridgeFactory bridges = {}) {
        auto object = DemoCloudFixture::Connected(Accounts::Source, std::move(bridges));
        EXPECT_TRUE(object);
        return object;
    }

    // A full instance restore to zone of us-east-1.
    static RestoreCtx Job(const std::string& zone = "us-east-1a") {
        RestoreCtx ctx;
        ctx.destZone = zone;
        ctx.destRegion = zone.substr(0, zone.size() - 1);
        ctx.originalVMName = "web-server-01";
        ctx.restoreVMName = "restored-web";
        return ctx;
    }

    static VMInfoStructs::SDisk Disk(const std::string& name, long long size, const std::string& type = "gp3",
                                     int iops = 0) {
        VMInfoStructs::SDisk disk;
        disk.displayName = name;
        disk.selected = true;
        disk.size = size;
        disk.volumeType = type;
        disk.iops = iops;
        return disk;
    }

    bool Terminated(const std::string& instance) {
        const cloudsim::Instance found = Instance(instance);
        return found.id.empty() || found.state == "shutting-down" || found.state == "terminated";
    }
};

}  // namespace restore
