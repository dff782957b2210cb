#pragma once
// A bridge connected to the demo cloud's source account (and, on request,
// one to its admin account), with the virtual clock at hand, for the tests
// of the bridge's operations.
#include <gtest/gtest.h>

#include <string>

#include "bridge/AmazonSDKBridge.h"
#include "cloudsim/Cloud.h"
#include "framework/Clock.h"
#include "support/DemoAccounts.h"
#include "support/TestEnv.h"

namespace demo {

const int64_t kGiB = 1024LL * 1024 * 1024;

const char kWeb[] = "i-0a1b2c3d4e5f60001";       // us-east-1a, running, Linux
const char kDb[] = "i-0a1b2c3d4e5f60002";        // us-east-1b, running, Linux
const char kWin[] = "i-0a1b2c3d4e5f60003";       // us-east-1c, stopped, Windows
const char kWebData[] = "vol-0a1b2c3d4e5f6a002"; // web's /dev/sdf, gp2, 20 GiB
const char kBackupAmi[] = "ami-0a1b2c3d4e5fa0001";  // web's AMI, two snapshots, one day old
const char kDbSnap[] = "snap-0a1b2c3d4e5fb0003";    // 100 GiB io1, encrypted

}  // namespace demo

class BridgeFixture : public ::testing::Test {
protected:
    void SetUp() override {
        cloud = env.InstallCloud();
        ASSERT_TRUE(bridge.initialize("Amazon", "VSA", 42)) << bridge.GetLastErrorString();
        ASSERT_TRUE(bridge.Connect("us-east-1", demo::kSourceKey, demo::kSourceSecret)) << bridge.GetLastErrorString();
    }
    void ConnectAdmin() {
        ASSERT_TRUE(admin.initialize("Amazon", "VSA", 42));
        ASSERT_TRUE(admin.Connect("us-east-1", demo::kAdminKey, demo::kAdminSecret)) << admin.GetLastErrorString();
    }
    void Advance(int64_t ms) { env.Clock().AdvanceMs(ms); }
    cloudsim::Timing Timing() {
        cloudsim::Timing t;
        cloud->Read([&](const cloudsim::State& s) { t = s.timing; });
        return t;
    }
    // The volume's state as GetVolumeInfo tells it; "not found" when gone.
    std::string VolumeState(const std::string& id, VMInfoStructs::SDisk* out = nullptr) {
        VMInfoStructs::SDisk disk;
        bool notFound = false;
        if (!bridge.GetVolumeInfo(id, "", disk, notFound)) return "error: " + bridge.GetLastErrorString();
        if (out) *out = disk;
        return notFound ? "not found" : disk.state;
    }
    std::string SnapshotState(const std::string& id) {
        VMInfoStructs::SChildDisk snap;
        if (!bridge.GetSnapshotInfo(id, "", snap)) return "error: " + bridge.GetLastErrorString();
        return snap.state;
    }
    // An empty volume in zone, already available.
    std::string NewVolume(const std::string& zone, int64_t gib = 10) {
        VMInfoStructs::SDisk disk;
        disk.zone = zone;
        disk.size = gib * demo::kGiB;
        disk.volumeType = "gp3";
        EXPECT_TRUE(bridge.CreateVolume(disk, false, "")) << bridge.GetLastErrorString();
        Advance(Timing().volumeCreateMs);
        return disk.newVolumeId;
    }

    TestEnv env;
    std::shared_ptr<cloudsim::Cloud> cloud;
    CAmazonSDKBridge bridge;
    CAmazonSDKBridge admin;
};
