// The task utility against the simulated cloud of the demo seed: resources go
// through their real states in virtual time, faults are injected by rule.
#include <gtest/gtest.h>

#include <memory>

#include "framework/FileUtils.h"
#include "support/ConnectedFixture.h"
#include "tasks/TaskUtilsFixture.h"

namespace {

const char kWebServer[] = "i-0a1b2c3d4e5f60001";      // running, us-east-1a
const char kStoppedWindows[] = "i-0a1b2c3d4e5f60003";  // stopped, us-east-1c
const char kDataVolume[] = "vol-0a1b2c3d4e5f6a002";    // attached to the web server
const char kSourceSnapshot[] = "snap-0a1b2c3d4e5fb0001";

struct TaskUtilsCloudTest : ConnectedFixture {
    std::unique_ptr<CAmazonTaskUtils> tasks;

    void Connect(Accounts accounts) {
        ConnectObject(accounts);
        tasks = std::make_unique<CAmazonTaskUtils>(object.SourceBridge(), object.AdminBridge(), &object);
    }
    void SetUp() override { Connect(Accounts::Source); }

    int64_t SleptSec() { return env.Clock().TotalSleptMs() / 1000; }
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
    EXPECT_EQ(0, object.GetLastVMError());
}

TEST_F(TaskUtilsCloudTest, StuckOrFailedCreationHandsBackAVolumeThatExists) {
    TestEnv::SetSetting("VirtualServer", "nAmazonVolumeTaskTimeOutInMin", "1");
    cloud->AddFault({"CreateVolume", 1, "", 0, "stuck"});
    std::string volumeId;
    EXPECT_FALSE(FromSnapshot(volumeId));
    EXPECT_EQ(60, SleptSec());
    EXPECT_EQ(24, object.GetLastVMError());
    EXPECT_EQ(kVolumeAdviceText, object.GetLastVMErrorDetails());
    ASSERT_FALSE(volumeId.empty());
    EXPECT_EQ("creating", Volume(volumeId).state);

    cloud->AddFault({"CreateVolume", 1, "", 0, "error"});
    std::string failedId;
    EXPECT_FALSE(FromSnapshot(failedId));
    EXPECT_EQ(60 + 20, SleptSec());  // the error shows at the first poll after 15 s
    EXPECT_EQ("error", Volume(failedId).state);
    EXPECT_EQ(24, object.GetLastVMError());
    // Not the bridge's last text: every poll worked.
    EXPECT_EQ("Volume [" + failedId + "] is in state [error]", object.GetLastVMErrorDetails());
    VMInfoStructs::SDisk failed;
    failed.newVolumeId = failedId;
    EXPECT_TRUE(tasks->DeleteVolume(failed, true));  // what the caller's clean-up does
}

// A job that fails (or dies) while its new volume is still being made must
// have registered it first, and its clean-up must still be able to delete
// it: AWS refuses to delete a volume that is "creating".
TEST_F(TaskUtilsCloudTest, AVolumeIsHeardOfBeforeTheWaitAndDeletedOnceItsCreateEnds) {
    cloud->AddFault({"GetVolumeInfo", 1, "InternalError: An internal error has occurred."});
    VMInfoStructs::SDisk disk = EmptyDisk();
    std::string heard, stateWhenHeard;
    EXPECT_FALSE(tasks->CreateEmptyVolume(disk, "us-east-1", "", false, [&](const std::string& id) {
        heard = id;
        stateWhenHeard = Volume(id).state;
    }));
    ASSERT_FALSE(disk.newVolumeId.empty());
    EXPECT_EQ(disk.newVolumeId, heard);
    EXPECT_EQ("creating", stateWhenHeard);
    EXPECT_EQ("creating", Volume(disk.newVolumeId).state);  // the failed poll came before its end

    const int64_t before = SleptSec();
    ASSERT_TRUE(tasks->DeleteVolume(disk, false));
    EXPECT_GT(SleptSec(), before);  // it waited for the volume to be available
    env.Clock().AdvanceMs(5000);
    EXPECT_TRUE(Volume(disk.newVolumeId).id.empty());

    // One that stays "creating" cannot be deleted: the delete fails, and the
    // caller keeps it registered.
    TestEnv::SetSetting("VirtualServer", "nAmazonVolumeTaskTimeOutInMin", "1");
    cloud->AddFault({"CreateVolume", 1, "", 0, "stuck"});
    VMInfoStructs::SDisk stuck = EmptyDisk();
    EXPECT_FALSE(tasks->CreateEmptyVolume(stuck, "us-east-1", ""));
    EXPECT_FALSE(tasks->DeleteVolume(stuck, false));
    EXPECT_EQ("creating", Volume(stuck.newVolumeId).state);
}

// AWS frees a detachment that is stuck only when the detach is forced; the
// retry is forced only when the caller allows it, and a refused detach is not
// retried. The normal wait is two minutes, the forced one ten; a detach that
// fails is error 117.
TEST_F(TaskUtilsCloudTest, StuckDetachIsRetriedWithForceWhenAllowed) {
    const struct {
        const char* what;
        const char* volume;   // each row detaches a volume of its own
        cloudsim::FaultRule fault;
        bool allowForce, detached, forced;
        int64_t slept;
        const char* details;   // how those of a failed detach start
    } rows[] = {
        {"first detach sticks", kDataVolume, {"DetachVolume", 1, "", 0, "stuck"}, true, true, true, 120 + 10, ""},
        {"first sticks, no force", "vol-0a1b2c3d4e5f6b002", {"DetachVolume", 1, "", 0, "stuck"}, false, false, false,
         120, kVolumeAdviceText},
        {"every detach sticks", "vol-0a1b2c3d4e5f6b003", {"DetachVolume", 0, "", 0, "stuck"}, true, false, true,
         120 + 600, kVolumeAdviceText},
        {"detach refused", "vol-0a1b2c3d4e5f6b001", {"DetachVolume", 0, "IncorrectState: busy"}, true, false, false, 0,
         "IncorrectState: busy"},
    };
    for (const auto& row : rows) {
        const std::string owner = Volume(row.volume).attachedInstance;
        ASSERT_FALSE(owner.empty()) << row.what;
        cloud->ClearFaults();
        cloud->AddFault(row.fault);
        VMInfoStructs::SDisk disk;
        disk.newVolumeId = row.volume;
        bool wasForced = !row.forced;
        const int64_t before = SleptSec();
        EXPECT_EQ(row.detached, tasks->DetachVolume(disk, "us-east-1", row.allowForce, wasForced, true)) << row.what;
        EXPECT_EQ(row.forced, wasForced) << row.what;
        EXPECT_EQ(row.slept, SleptSec() - before) << row.what;
        if (!row.detached) {
            EXPECT_EQ(117, object.GetLastVMError()) << row.what;
            EXPECT_EQ(0u, object.GetLastVMErrorDetails().rfind(row.details, 0))
                << row.what << ": " << object.GetLastVMErrorDetails();
        }
        EXPECT_EQ(row.detached ? "" : owner, Volume(row.volume).attachedInstance) << row.what;
    }
}

TEST_F(TaskUtilsCloudTest, ModificationIsDoneOnceOptimizingOrOnRequestCompleted) {
    ASSERT_TRUE(object.SourceBridge() == object.AdminBridge());
    ASSERT_TRUE(tasks->ModifyVolume(kDataVolume, "us-east-1", "gp3", 0));
    EXPECT_EQ(30, SleptSec());
    EXPECT_EQ("gp3", Volume(kDataVolume).type);

    TestEnv::SetSetting("VirtualServer", "nAmazonWaitForVolumeModificationTask", "1");
    ASSERT_TRUE(tasks->ModifyVolume("vol-0a1b2c3d4e5f6a001", "us-east-1", "", 4000));
    EXPECT_EQ(30 + 90, SleptSec());
    EXPECT_EQ("completed", Volume("vol-0a1b2c3d4e5f6a001").modification.state);
}

// Polls every 30 s; a screenshot at every second one. The instance is the
// source account's, so polls and screenshots through the admin bridge would
// find nothing.
TEST_F(TaskUtilsCloudTest, StartedInstanceValidatesAndLeavesAScreenshotEverySecondPoll) {
    Connect(Accounts::SourceAndAdmin);
    TestEnv::SetSetting("VirtualServer", "bSaveInstanceScreenshots", "true");
    LogTap log;
    ASSERT_TRUE(object.SourceBridge()->PowerOnVM("", kStoppedWindows, "us-east-1"));
    const int64_t start = env.Clock().NowMs() / 1000;
    ASSERT_TRUE(tasks->CompleteInstanceValidationTask(kStoppedWindows, "us-east-1", true));
    EXPECT_EQ(90, SleptSec());  // 30 s to start, 60 s of status checks
    const std::string folder = env.BaseDir() + "/Temp/" + kStoppedWindows;
    EXPECT_TRUE(log.Has("Screenshots will be saved to: [" + folder + "]"));
    std::vector<std::string> files;
    ASSERT_TRUE(FwFile::ListDir(folder, files));
    EXPECT_EQ(std::vector<std::string>{std::to_string(start + 60) + ".jpg"}, files);  // none at 30 s or 90 s
}

TEST_F(TaskUtilsCloudTest, RequestsGoToTheAdminAccountUnlessTheSourceIsAsked) {
    Connect(Accounts::SourceAndAdmin);
    ASSERT_NE(object.SourceBridge(), object.AdminBridge());
    VMInfoStructs::SDisk disk = EmptyDisk();
    ASSERT_TRUE(tasks->CreateEmptyVolume(disk, "us-east-1", ""));
    EXPECT_EQ(demo::kAdminAccount, Volume(disk.newVolumeId).account);

    std::string fromSource;
    ASSERT_TRUE(FromSnapshot(fromSource, true));
    EXPECT_EQ(demo::kSourceAccount, Volume(fromSource).account);
    EXPECT_FALSE(tasks->UseSourceAccount());

    // The source's private snapshot is not the admin account's to use.
    std::string fromAdmin;
    EXPECT_FALSE(FromSnapshot(fromAdmin, false));
    EXPECT_EQ(24, object.GetLastVMError());
    EXPECT_NE(std::string::npos, object.GetLastVMErrorDetails().find("NotFound"));
}
