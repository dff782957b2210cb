// The task utility against the simulated cloud of the demo seed: resources go
// through their real states in virtual time, faults are injected by rule.
#include <gtest/gtest.h>

#include <memory>

#include "bridge/AmazonSDKBridge.h"
#include "cloudsim/Cloud.h"
#include "factory/AmazonInfo.h"
#include "framework/Clock.h"
#include "framework/FileUtils.h"
#include "support/TestEnv.h"
#include "tasks/AmazonTaskUtils.h"

namespace {

const char kSourceAccount[] = "111122223333";
const char kAdminAccount[] = "444455556666";
const char kWebServer[] = "i-0a1b2c3d4e5f60001";      // running, us-east-1a
const char kStoppedWindows[] = "i-0a1b2c3d4e5f60003";  // stopped, us-east-1c
const char kDataVolume[] = "vol-0a1b2c3d4e5f6a002";    // attached to the web server
const char kSourceSnapshot[] = "snap-0a1b2c3d4e5fb0001";
const char kVolumeAdvice[] =
    "Volume task has timed out. Please consider setting a higher timeout by adding the "
    "VirtualServer\\nAmazonVolumeTaskTimeOutInMin additional setting on the Ostrel proxy.";

struct TaskUtilsCloudTest : ::testing::Test {
    TestEnv env;
    std::shared_ptr<cloudsim::Cloud> cloud = env.InstallCloud();
    CAmazonInfo owner{kAmazonInstanceType};
    std::unique_ptr<CAmazonTaskUtils> tasks;

    void Connect(bool withAdmin = false) {
        std::vector<SHostCredentials> creds;
        if (withAdmin) creds.emplace_back("", "us-east-1", "AKIADEMOADMIN0000001", "demo-admin-secret", 5);
        ASSERT_EQ(1, owner.Connect("us-east-1", "AKIADEMOSOURCE000001", "demo-source-secret", creds));
        tasks = std::make_unique<CAmazonTaskUtils>(owner.SourceBridge(), owner.AdminBridge(), &owner);
    }
    void SetUp() override { Connect(); }

    int64_t SleptSec() { return env.Clock().TotalSleptMs() / 1000; }
    // The volume as the cloud holds it; id empty when it does not exist.
    cloudsim::Volume Volume(const std::string& id) {
        cloudsim::Volume v;
        cloud->Read([&](const cloudsim::State& s) {
            auto it = s.volumes.find(id);
            if (it != s.volumes.end()) v = it->second;
        });
        return v;
    }
    VMInfoStructs::SDisk EmptyDisk(const std::string& zone = "us-east-1a") {
        VMInfoStructs::SDisk d;
        d.zone = zone;
        d.size = 1LL << 30;
        return d;
    }
    bool FromSnapshot(std::string& volumeId, bool useSourceAccount = true) {
        return tasks->CreateVolumeFromSnapshot(kSourceSnapshot, "us-east-1a", "us-east-1", "staged", "gp3", "gp3", 3000,
                                               3000, 0, false, "", volumeId, {}, useSourceAccount, "");
    }
};

}  // namespace

TEST_F(TaskUtilsCloudTest, VolumeGoesThroughCreateAttachDetachDelete) {
    VMInfoStructs::SDisk disk = EmptyDisk();
    ASSERT_TRUE(tasks->CreateEmptyVolume(disk, "us-east-1", ""));
    EXPECT_EQ(20, SleptSec());  // created after 15 s, seen at the second 10-second poll
    EXPECT_EQ("available", Volume(disk.newVolumeId).state);

    ASSERT_TRUE(tasks->AttachVolume(disk.newVolumeId, kWebServer, "us-east-1a", "us-east-1", false, "", false));
    EXPECT_EQ("in-use", Volume(disk.newVolumeId).state);
    EXPECT_EQ(kWebServer, Volume(disk.newVolumeId).attachedInstance);

    ASSERT_TRUE(tasks->DetachVolume(disk, "us-east-1", false));
    EXPECT_TRUE(Volume(disk.newVolumeId).attachedInstance.empty());
    ASSERT_TRUE(tasks->DeleteVolume(disk, false));
    env.Clock().AdvanceMs(5000);
    EXPECT_TRUE(Volume(disk.newVolumeId).id.empty());
    EXPECT_EQ(0, owner.GetLastVMError());
}

TEST_F(TaskUtilsCloudTest, StuckOrFailedCreationHandsBackAVolumeThatExists) {
    TestEnv::SetSetting("VirtualServer", "nAmazonVolumeTaskTimeOutInMin", "1");
    cloud->AddFault({"CreateVolume", 1, "", 0, "stuck"});
    std::string volumeId;
    EXPECT_FALSE(FromSnapshot(volumeId));
    EXPECT_EQ(60, SleptSec());
    EXPECT_EQ(24, owner.GetLastVMError());
    EXPECT_EQ(kVolumeAdvice, owner.GetLastVMErrorDetails());
    ASSERT_FALSE(volumeId.empty());
    EXPECT_EQ("creating", Volume(volumeId).state);

    cloud->AddFault({"CreateVolume", 1, "", 0, "error"});
    std::string failedId;
    EXPECT_FALSE(FromSnapshot(failedId));
    EXPECT_EQ(60 + 20, SleptSec());  // the error shows at the first poll after 15 s
    EXPECT_EQ("error", Volume(failedId).state);
    VMInfoStructs::SDisk failed;
    failed.newVolumeId = failedId;
    EXPECT_TRUE(tasks->DeleteVolume(failed, true));  // what the caller's clean-up does
}

TEST_F(TaskUtilsCloudTest, CancelledJobStopsTheCreationWaitWithinOneStep) {
    owner.SetJobCancelled(true);
    std::string volumeId;
    EXPECT_FALSE(FromSnapshot(volumeId));
    EXPECT_EQ(5, SleptSec());
    EXPECT_EQ(4000, owner.GetLastVMError());
    EXPECT_EQ(kSourceAccount, Volume(volumeId).account);
}

// The cloud keeps a stuck detachment stuck even when forced, so both waits
// run out: two minutes for the normal detach, ten for the forced one.
TEST_F(TaskUtilsCloudTest, StuckDetachIsRetriedWithForceBeforeGivingUp) {
    // Every detach sticks, the forced one too (a forced detach alone would
    // free a volume stuck detaching).
    cloud->AddFault({"DetachVolume", 0, "", 0, "stuck"});
    VMInfoStructs::SDisk disk;
    disk.newVolumeId = kDataVolume;
    bool wasForced = false;
    EXPECT_FALSE(tasks->DetachVolume(disk, "us-east-1", true, wasForced, true));
    EXPECT_TRUE(wasForced);
    EXPECT_EQ(120 + 600, SleptSec());
    EXPECT_EQ(117, owner.GetLastVMError());
    EXPECT_EQ(kVolumeAdvice, owner.GetLastVMErrorDetails());
    EXPECT_EQ(kWebServer, Volume(kDataVolume).attachedInstance);
}

TEST_F(TaskUtilsCloudTest, ModificationIsDoneOnceOptimizingOrOnRequestCompleted) {
    ASSERT_TRUE(owner.SourceBridge() == owner.AdminBridge());
    ASSERT_TRUE(tasks->ModifyVolume(kDataVolume, "us-east-1", "gp3", 0));
    EXPECT_EQ(30, SleptSec());
    EXPECT_EQ("gp3", Volume(kDataVolume).type);

    TestEnv::SetSetting("VirtualServer", "nAmazonWaitForVolumeModificationTask", "1");
    ASSERT_TRUE(tasks->ModifyVolume("vol-0a1b2c3d4e5f6a001", "us-east-1", "", 4000));
    EXPECT_EQ(30 + 90, SleptSec());
    EXPECT_EQ("completed", Volume("vol-0a1b2c3d4e5f6a001").modification.state);
}

TEST_F(TaskUtilsCloudTest, StartedInstanceValidatesAndLeavesScreenshots) {
    TestEnv::SetSetting("VirtualServer", "bSaveInstanceScreenshots", "true");
    ASSERT_TRUE(owner.SourceBridge()->PowerOnVM("", kStoppedWindows, "us-east-1"));
    ASSERT_TRUE(tasks->CompleteInstanceValidationTask(kStoppedWindows, "us-east-1", true));
    EXPECT_EQ(90, SleptSec());  // 30 s to start, 60 s of status checks
    std::vector<std::string> files;
    ASSERT_TRUE(FwFile::ListDir(env.BaseDir() + "/Temp/" + kStoppedWindows, files));
    EXPECT_EQ(1u, files.size());  // the poll at 60 s; the one at 120 s never came
}

TEST_F(TaskUtilsCloudTest, RequestsGoToTheAdminAccountUnlessTheSourceIsAsked) {
    Connect(true);
    ASSERT_NE(owner.SourceBridge(), owner.AdminBridge());
    VMInfoStructs::SDisk disk = EmptyDisk();
    ASSERT_TRUE(tasks->CreateEmptyVolume(disk, "us-east-1", ""));
    EXPECT_EQ(kAdminAccount, Volume(disk.newVolumeId).account);

    std::string fromSource;
    ASSERT_TRUE(FromSnapshot(fromSource, true));
    EXPECT_EQ(kSourceAccount, Volume(fromSource).account);
    EXPECT_FALSE(tasks->UseSourceAccount());

    // The source's private snapshot is not the admin account's to use.
    std::string fromAdmin;
    EXPECT_FALSE(FromSnapshot(fromAdmin, false));
    EXPECT_EQ(24, owner.GetLastVMError());
    EXPECT_NE(std::string::npos, owner.GetLastVMErrorDetails().find("NotFound"));
}
