// Volume requests and their waits, in virtual time, against scripted bridges.
#include <algorithm>
#include <stdexcept>

#include "tasks/TaskUtilsFixture.h"

using ::testing::_;
using ::testing::DoAll;
using ::testing::Return;
using ::testing::SetArgReferee;

using VMInfoStructs::SDisk;

// ---- sleeping -------------------------------------------------------------

TEST_F(TaskUtilsTest, SleepServesWholeFiveSecondSteps) {
    EXPECT_TRUE(tasks.SleepWithQuitFlagCheck(12));
    EXPECT_EQ(15, SleptSec());
    EXPECT_TRUE(tasks.SleepWithQuitFlagCheck(0));
    EXPECT_TRUE(tasks.SleepWithQuitFlagCheck(5));
    EXPECT_EQ(20, SleptSec());
}

TEST_F(TaskUtilsTest, SleepNoticesCancelAfterOneStepOnlyWhileCheckingTheQuitFlag) {
    owner.SetJobCancelled(true);
    EXPECT_FALSE(tasks.SleepWithQuitFlagCheck(600));
    EXPECT_EQ(5, SleptSec());
    EXPECT_TRUE(Logged("Detected Quit flag"));

    // An attach turns the check off; it stays off after the call.
    ON_CALL(admin, AttachVolume(_, _, _, _, _, _, _)).WillByDefault(Return(true));
    VolumeStates(admin, {"in-use"});
    ASSERT_TRUE(tasks.AttachVolume("vol-1", "i-1", "us-east-1a", "us-east-1", false, "", false));
    EXPECT_FALSE(tasks.CheckQuitFlag());
    const int64_t before = SleptSec();
    EXPECT_TRUE(tasks.SleepWithQuitFlagCheck(60));
    EXPECT_EQ(60, SleptSec() - before);
}

// ---- creating volumes ------------------------------------------------------

// The wait on the framework clock (the plain cases, and a volume that ends in
// error, are TaskUtilsCloudTest's): a delay is slept in whole 5-second steps,
// yet the time-out is what the clock shows, not the delays counted, and the
// last sleep is cut to what is left of it. The first poll follows the first
// delay, so a time-out below the delay still polls once; a delay of 0 or less
// is one step, so the wait never spins.
TEST_F(TaskUtilsTest, VolumeWaitSleepsAndPollsWithinItsTimeOut) {
    enum Outcome { Available, TimedOut };
    const struct {
        const char *timeoutMin, *delaySec;
        std::vector<std::string> states;   // one per poll, the last repeats
        int64_t slept;
        int polls;
        Outcome outcome;
    } rows[] = {
        {"10", "12", {"creating", "available"}, 30, 2, Available},
        {"2", "1", {"creating"}, 120, 24, TimedOut},
        {"1", "25", {"creating"}, 60, 3, TimedOut},
        {"1", "120", {"creating"}, 120, 1, TimedOut},
        {"1", "0", {"creating"}, 60, 12, TimedOut},
        {"1", "-10", {"creating"}, 60, 12, TimedOut},
    };
    CreatesEmptyVolume(admin);
    for (const auto& row : rows) {
        const std::string what = std::string(row.timeoutMin) + " min, every " + row.delaySec + " s";
        Set("nAmazonVolumeTaskTimeOutInMin", row.timeoutMin);
        Set("nAmazonVolumeTaskPollingInSecs", row.delaySec);
        int polls = 0;
        ON_CALL(admin, GetVolumeInfo(_, _, _, _)).WillByDefault([&](const std::string&, const std::string&, SDisk& d, bool&) {
            const size_t i = std::min<size_t>(polls++, row.states.size() - 1);
            d.state = polls > 1000 ? "error" : row.states[i];   // a spinning loop ends the test
            return true;
        });
        log.Clear();
        const int64_t before = SleptSec();
        SDisk disk = EmptyDisk();
        EXPECT_EQ(row.outcome == Available, tasks.CreateEmptyVolume(disk, "us-east-1", "")) << what;
        EXPECT_EQ(row.slept, SleptSec() - before) << what;
        EXPECT_EQ(row.polls, polls) << what;
        EXPECT_EQ("vol-new", disk.newVolumeId) << what;   // a volume that failed is the caller's to remove
        EXPECT_EQ(row.outcome == Available ? 0 : 24, owner.GetLastVMError()) << what;
        if (row.outcome == TimedOut) {
            EXPECT_EQ(kVolumeAdviceText, owner.GetLastVMErrorDetails()) << what;
            EXPECT_TRUE(Logged("Volume [vol-new] Task [1] timed out.")) << what;
            EXPECT_TRUE(Logged("Failed to create empty volume [vol-new], Error [task timed out]")) << what;
        }
        owner.SetLastVMError(0);
    }
}

TEST_F(TaskUtilsTest, RefusedCreateRequestFailsWithoutWaiting) {
    EXPECT_CALL(admin, CreateVolume(_, false, "opt")).WillOnce(Return(false));
    EXPECT_CALL(admin, GetVolumeInfo(_, _, _, _)).Times(0);
    SDisk disk = EmptyDisk();
    disk.newVolumeId = "vol-stale";
    EXPECT_FALSE(tasks.CreateEmptyVolume(disk, "us-east-1", "opt"));
    EXPECT_EQ(24, owner.GetLastVMError());
    EXPECT_EQ("admin: last error", owner.GetLastVMErrorDetails());
    EXPECT_TRUE(disk.newVolumeId.empty());  // no stale id that a clean-up would delete
    EXPECT_TRUE(Logged("Failed to create new volume.Error [admin: last error]"));
}

TEST_F(TaskUtilsTest, VolumeFromSnapshotLogsTheRequestAndReturnsTheId) {
    using ::testing::Pair;
    EXPECT_CALL(admin, CreateVolume("snap-1", "us-east-1a", "restored", "io1", 3000, 8589934592LL, true, "key-1", _,
                                    ::testing::ElementsAre(Pair("k", "v")), false, ""))
        .WillOnce(DoAll(SetArgReferee<8>("vol-snap"), Return(true)));
    VolumeStates(admin, {"available"});
    std::string volumeId = "old";
    ASSERT_TRUE(CreateFromSnapshot(volumeId));
    EXPECT_EQ("vol-snap", volumeId);
    EXPECT_TRUE(Logged("Requesting volume creation from snapshot [snap-1]. volume type:[gp2->io1] iops:[100->3000] "
                       "size:[8,589,934,592] encrypted:[true] keyId:[key-1]"));
}

// Any other refusal is 24 (TaskUtilsCloudTest's snapshot the admin account
// cannot see).
TEST_F(TaskUtilsTest, VolumeFromSnapshotOverTheIopsLimitIs243) {
    EXPECT_CALL(admin, CreateVolume(_, _, _, _, _, _, _, _, _, _, _, _)).WillOnce(Return(false));
    EXPECT_CALL(admin, GetLastErrorString())
        .WillRepeatedly(Return("VolumeIOPSLimit: You have exceeded your maximum io1 IOPS limit in this region"));
    std::string volumeId;
    EXPECT_FALSE(CreateFromSnapshot(volumeId));
    EXPECT_EQ(243, owner.GetLastVMError());
    EXPECT_TRUE(volumeId.empty());
}

TEST_F(TaskUtilsTest, CancelDuringCreationEndsWithinOneStepAndHandsBackTheVolume) {
    CreatesVolumeFromSnapshot(admin);
    int64_t cancelledAt = -1;
    EXPECT_CALL(admin, GetVolumeInfo(_, _, _, _))
        .Times(2)
        .WillRepeatedly([&](const std::string&, const std::string&, SDisk& d, bool&) {
            d.state = "creating";
            if (cancelledAt < 0 && SleptSec() >= 20) {
                owner.SetJobCancelled(true);
                cancelledAt = SleptSec();
            }
            return true;
        });
    owner.SetLastVMError(54, "IncorrectState: an earlier failure");
    std::string volumeId;
    EXPECT_FALSE(CreateFromSnapshot(volumeId));
    EXPECT_LE(SleptSec() - cancelledAt, 5);
    EXPECT_EQ(4000, owner.GetLastVMError());
    EXPECT_EQ("Job interrupted", owner.GetLastVMErrorDetails());
    EXPECT_EQ("vol-snap", volumeId);  // the caller registers and removes it
    EXPECT_TRUE(Logged("Failed to create volume [vol-snap] from snapshot [snap-1], Error [Job interrupted]"));
}

TEST_F(TaskUtilsTest, AttachRequestErrorsMapToConflictIopsOrGeneric) {
    EXPECT_CALL(admin, AttachVolume("vol-1", "i-1", "us-east-1a", true, "/dev/sdf", _, false))
        .WillOnce(DoAll(SetArgReferee<5>(true), Return(false)))
        .WillOnce(Return(false))
        .WillOnce(Return(false));
    EXPECT_CALL(admin, GetLastErrorString())
        .WillOnce(Return("VolumeInUse: attached elsewhere"))
        .WillOnce(Return("x: You have exceeded your maximum io1 IOPS limit"))
        .WillOnce(Return("IncorrectState: busy"));
    EXPECT_CALL(admin, GetVolumeInfo(_, _, _, _)).Times(0);
    const int expected[] = {189, 243, 54};
    const char* details[] = {"VolumeInUse: attached elsewhere", "x: You have exceeded your maximum io1 IOPS limit",
                             "IncorrectState: busy"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(tasks.AttachVolume("vol-1", "i-1", "us-east-1a", "us-east-1", true, "/dev/sdf", false));
        EXPECT_EQ(expected[i], owner.GetLastVMError());
        EXPECT_EQ(details[i], owner.GetLastVMErrorDetails());
    }
}

TEST_F(TaskUtilsTest, CancelDuringAttachIsNotNoticed) {
    ON_CALL(admin, AttachAsOSVolume(_, _, _, _, _, _, _)).WillByDefault(Return(true));
    EXPECT_CALL(admin, AttachVolume(_, _, _, _, _, _, _)).Times(0);
    int polls = 0;
    EXPECT_CALL(admin, GetVolumeInfo("vol-1", "us-west-2", _, _))
        .Times(3)
        .WillRepeatedly([&](const std::string&, const std::string&, SDisk& d, bool&) {
            owner.SetJobCancelled(true);
            // AWS: "in-use" from the request on, attached only at the end.
            d.state = "in-use";
            d.attachState = ++polls < 3 ? "attaching" : "attached";
            return true;
        });
    EXPECT_TRUE(tasks.AttachAsOSVolume("vol-1", "i-1", "us-west-2a", "us-west-2", false, "", false));
    EXPECT_EQ(0, owner.GetLastVMError());
}

TEST_F(TaskUtilsTest, AttachOfAVolumeThatIsGoneFailsAtOnceWith54) {
    ON_CALL(admin, AttachVolume(_, _, _, _, _, _, _)).WillByDefault(Return(true));
    EXPECT_CALL(admin, GetVolumeInfo(_, _, _, _)).WillOnce(DoAll(SetArgReferee<3>(true), Return(true)));
    EXPECT_FALSE(tasks.AttachVolume("vol-1", "i-1", "us-east-1a", "us-east-1", false, "", false));
    EXPECT_EQ(54, owner.GetLastVMError());
    EXPECT_EQ("Volume [vol-1] not found in region [us-east-1]", owner.GetLastVMErrorDetails());
    EXPECT_TRUE(Logged("Volume [vol-1] not found in region [us-east-1]."));
}

// ---- detaching and deleting -------------------------------------------------

TEST_F(TaskUtilsTest, DetachAndDeleteActOnTheStagedVolumeWhenThereIsOne) {
    SDisk disk;
    disk.volumeId = "vol-protected";
    disk.newVolumeId = "vol-staged";
    EXPECT_CALL(admin, DetachVolume("vol-staged", false, false)).WillOnce(Return(true));
    EXPECT_CALL(admin, DeleteVolume("vol-staged", true)).WillOnce(Return(true));
    EXPECT_CALL(admin, DetachVolume("vol-protected", _, _)).Times(0);
    EXPECT_CALL(admin, DeleteVolume("vol-protected", _)).Times(0);
    VolumeStates(admin, {"available"});
    EXPECT_TRUE(tasks.DetachVolume(disk, "us-east-1", false));
    EXPECT_TRUE(tasks.DeleteVolume(disk, false));

    // Without a staged volume nothing is detached or deleted: the record's
    // volume id is the protected instance's own.
    disk.newVolumeId.clear();
    EXPECT_FALSE(tasks.DeleteVolume(disk, false));
    EXPECT_FALSE(tasks.DetachVolume(disk, "us-east-1", false));
    EXPECT_TRUE(Logged("Failed to delete Volume []"));
}

TEST_F(TaskUtilsTest, DetachOfAVolumeThatIsGoneCountsAsDetached) {
    SDisk disk;
    disk.newVolumeId = "vol-1";
    ON_CALL(admin, DetachVolume(_, _, _)).WillByDefault(Return(true));
    EXPECT_CALL(admin, GetVolumeInfo(_, _, _, _)).WillOnce(DoAll(SetArgReferee<3>(true), Return(true)));
    EXPECT_TRUE(tasks.DetachVolume(disk, "us-east-1", false));
}

// ---- which account -----------------------------------------------------------

TEST_F(TaskUtilsTest, ExceptionFromTheBridgeIsContainedAndTheFlagStillCleared) {
    EXPECT_CALL(source, AttachVolume(_, _, _, _, _, _, _)).WillOnce(::testing::Throw(std::runtime_error("boom")));
    EXPECT_FALSE(tasks.AttachVolume("vol-1", "i-1", "us-east-1a", "us-east-1", false, "", true));
    EXPECT_FALSE(tasks.UseSourceAccount());
    EXPECT_EQ(54, owner.GetLastVMError());
    EXPECT_EQ("boom", owner.GetLastVMErrorDetails());
}

TEST_F(TaskUtilsTest, MissingBridgeFailsInsteadOfCrashing) {
    CAmazonTaskUtils unbound(nullptr, nullptr, &owner);
    SDisk disk = EmptyDisk();
    EXPECT_FALSE(unbound.CreateEmptyVolume(disk, "us-east-1", ""));
    EXPECT_EQ(24, owner.GetLastVMError());
    EXPECT_FALSE(unbound.DeleteVolume(disk, true));
}
