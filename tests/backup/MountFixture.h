#pragma once
// A plug-in object on the demo cloud for the mount, mode and unmount tests.
// Unless a test says otherwise the object is connected to the source account
// alone and the proxy is db-server-01 (us-east-1b) of that account, so that
// hot-add is possible; the EBS direct permissions are the test's to grant.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "bridge/AmazonSDKBridge.h"
#include "support/ConnectedFixture.h"

namespace mount {

const char kWeb[] = "i-0a1b2c3d4e5f60001";        // web-server-01, us-east-1a: root a001, data a002
const char kDb[] = "i-0a1b2c3d4e5f60002";         // db-server-01, us-east-1b: the proxy here
const char kWin[] = "i-0a1b2c3d4e5f60003";        // win-app-01, us-east-1c
const char kAnalytics[] = "i-0a1b2c3d4e5f60004";  // us-west-2
const char kTemplate[] = "i-0a1b2c3d4e5f60005";   // golden-image-template, us-west-2
const char kWebRoot[] = "vol-0a1b2c3d4e5f6a001";
const char kWebData[] = "vol-0a1b2c3d4e5f6a002";  // Name=web-data, /dev/sdf

// The EBS direct permission answer, and what was asked.
struct PermissionBridge : CAmazonSDKBridge {
    static inline bool allowed = true;
    static inline std::vector<std::string> asked;
    bool CheckPermissions(const std::vector<std::string>& actions, bool& ok) override {
        asked = actions;
        ok = allowed;
        return true;
    }
};

struct MountFixture : DemoCloudFixture {
    void SetUp() override {
        SetProxy(kDb);
        OnAnEC2Proxy();
        PermissionBridge::allowed = true;
    }

    void SetProxy(const std::string& id) {
        cloud->Write([&](cloudsim::State& s) { s.proxyInstanceId = id; });
    }

    static std::unique_ptr<CAmazonInfo> Connected(Accounts accounts = Accounts::Source) {
        return DemoCloudFixture::Connected(accounts, [] { return std::make_unique<PermissionBridge>(); });
    }

    MountCtx Job(const std::string& instance, const std::string& mode = "") {
        MountCtx ctx;
        ctx.requestedVMGuid = instance;
        ctx.effectiveVMGuid = instance;
        ctx.transportMode = mode;
        ctx.mountPath = env.BaseDir() + "/mount";
        return ctx;
    }

    // The job's VM record, read as the mount reads it.
    static MountCtx& WithVM(CAmazonInfo& object, MountCtx& ctx) {
        EXPECT_TRUE(object._InitVMInfoForBackup("", ctx.requestedVMGuid, "", false, 0, ctx.vm));
        return ctx;
    }
};

}  // namespace mount
