// Waits for volume modifications, AMIs, snapshot lists and instance
// validation, in virtual time, against scripted bridges.
#include "tasks/TaskUtilsFixture.h"

using ::testing::_;
using ::testing::DoAll;
using ::testing::Return;
using ::testing::SetArgReferee;

namespace {
constexpr char kModifyAdvice[] =
    "Volume modify task has timed out. Please consider setting a higher timeout by adding the "
    "VirtualServer\\nAmazonVolumeModifyTaskTimeOutInMin additional setting on the Ostrel proxy.";
constexpr char kAMIAdvice[] =
    "AMI task has timed out. Please consider setting a higher timeout by adding the "
    "VirtualServer\\AMITimeoutInHour additional setting on the Ostrel proxy.";
constexpr char kSnapshotAdvice[] =
    "Snapshot task has timed out. Please consider setting a higher timeout by adding the "
    "VirtualServer\\AMITimeoutInHour additional setting on the Ostrel proxy.";
constexpr char kValidationAdvice[] =
    "Instance validaiton task has timed out. Please consider setting a higher timeout by adding the "
    "VirtualServer\\nAmazonValidateInstanceStatusTaskTimeOutInMin additional setting on the Ostrel proxy.";

// Scripted answers of a "done?" poll: nullopt-like "running" until the last.
auto DoneAfter(int polls, bool succeeded) {
    auto count = std::make_shared<int>(0);
    return [count, polls, succeeded](const std::string&, bool& ok) {
        if (++*count < polls) return false;
        ok = succeeded;
        return true;
    };
}

void ModifyStates(TaskBridgeMock& bridge, std::vector<std::string> states) {
    auto queue = std::make_shared<std::deque<std::string>>(states.begin(), states.end());
    ON_CALL(bridge, GetVolumeModifyTaskInfo(_, _, _))
        .WillByDefault([queue](const std::string&, const std::string&, std::string& state) {
            state = queue->front();
            if (queue->size() > 1) queue->pop_front();
            return true;
        });
}
}  // namespace

// ---- volume modification ----------------------------------------------------

TEST_F(TaskUtilsTest, ModifyFailuresAre54WithTextOrAdvice) {
    EXPECT_CALL(admin, ModifyVolume("vol-1", "us-east-1", "gp3", 0))
        .WillOnce(Return(false))
        .WillRepeatedly(Return(true));
    EXPECT_FALSE(tasks.ModifyVolume("vol-1", "us-east-1", "gp3", 0));
    EXPECT_EQ(54, owner.GetLastVMError());
    EXPECT_EQ("admin: last error", owner.GetLastVMErrorDetails());

    ModifyStates(admin, {"modifying", "failed"});
    EXPECT_FALSE(tasks.ModifyVolume("vol-1", "us-east-1", "gp3", 0));
    EXPECT_EQ(54, owner.GetLastVMError());
    EXPECT_EQ("Modification of volume [vol-1] is in state [failed]", owner.GetLastVMErrorDetails());

    EXPECT_CALL(admin, GetVolumeModifyTaskInfo(_, _, _)).WillOnce(Return(false));
    EXPECT_FALSE(tasks.ModifyVolume("vol-1", "us-east-1", "gp3", 0));
    EXPECT_TRUE(Logged("Failed to get volume [vol-1] modification info. Error [admin: last error]"));
    ::testing::Mock::VerifyAndClearExpectations(&admin);

    ON_CALL(admin, ModifyVolume(_, _, _, _)).WillByDefault(Return(true));
    Set("nAmazonVolumeModifyTaskTimeOutInMin", "2");
    ModifyStates(admin, {"modifying"});
    const int64_t before = SleptSec();
    EXPECT_FALSE(tasks.ModifyVolume("vol-1", "us-east-1", "gp3", 0));
    EXPECT_EQ(120, SleptSec() - before);
    EXPECT_EQ(kModifyAdvice, owner.GetLastVMErrorDetails());
    EXPECT_TRUE(Logged("Task timed out."));
}

// ---- AMIs ------------------------------------------------------------------

TEST_F(TaskUtilsTest, CompletedAMIReportsItsDurationAndMarksItsSnapshots) {
    EXPECT_CALL(source, IsAMITaskCompleted("ami-1", _)).Times(3).WillRepeatedly(DoneAfter(3, true));
    EXPECT_CALL(source, TagEBSSnapshotsForAMI("ami-1", "Name", "_QX_BACKUP_")).WillOnce(Return(true));
    int64_t duration = -1;
    EXPECT_TRUE(tasks.CompleteAMITask("ami-1", "us-east-1", true, &duration));
    EXPECT_EQ(360, duration);
    EXPECT_TRUE(Logged("Successfully created AMI [ami-1] task.  duration [00:06:00]"));
    EXPECT_FALSE(tasks.UseSourceAccount());
}

TEST_F(TaskUtilsTest, FailedAMIIsError17AndIsNotMarked) {
    EXPECT_CALL(admin, IsAMITaskCompleted("ami-1", _)).WillOnce(DoneAfter(1, false));
    EXPECT_CALL(admin, TagEBSSnapshotsForAMI(_, _, _)).Times(0);
    EXPECT_FALSE(tasks.CompleteAMITask("ami-1", "us-east-1", false));
    EXPECT_EQ(17, owner.GetLastVMError());
    EXPECT_EQ("admin: last error", owner.GetLastVMErrorDetails());
    EXPECT_TRUE(Logged("Create AMI task [ami-1] failed. Error [admin: last error]"));
}

TEST_F(TaskUtilsTest, AMITimeOutInHoursReplacesTheSeconds) {
    Set("AMITimeoutInSec", "600");
    ON_CALL(admin, IsAMITaskCompleted(_, _)).WillByDefault(Return(false));
    EXPECT_FALSE(tasks.CompleteAMITask("ami-1", "us-east-1", false));
    EXPECT_EQ(600, SleptSec());
    EXPECT_EQ(kAMIAdvice, owner.GetLastVMErrorDetails());
    EXPECT_TRUE(Logged("Task timedout."));

    Set("AMITimeoutInHour", "2");
    const int64_t before = SleptSec();
    EXPECT_FALSE(tasks.CompleteAMITask("ami-1", "us-east-1", false));
    EXPECT_EQ(7200, SleptSec() - before);
    EXPECT_TRUE(Logged("Timeout value [7200] seconds, polling delay [120] seconds"));
}

TEST_F(TaskUtilsTest, CancelledAMIWaitCancelsTheAMITask) {
    ON_CALL(admin, IsAMITaskCompleted(_, _)).WillByDefault([&](const std::string&, bool&) {
        owner.SetJobCancelled(true);
        return false;
    });
    EXPECT_CALL(admin, CancelAMITask("ami-1")).WillOnce(Return(true));
    EXPECT_FALSE(tasks.CompleteAMITask("ami-1", "us-east-1", false));
    EXPECT_EQ(4000, owner.GetLastVMError());
    EXPECT_EQ(125, SleptSec());
}

// ---- snapshot lists ----------------------------------------------------------

TEST_F(TaskUtilsTest, SnapshotListWaitsForAllAndPollsCompletedOnesNoMore) {
    std::map<std::string, std::deque<std::string>> states = {
        {"snap-a", {"completed"}}, {"snap-b", {"pending", "pending", "Completed"}}, {"snap-c", {"pending", "completed"}}};
    std::map<std::string, int> polls;
    ON_CALL(admin, GetSnapshotInfo(_, "us-east-1", _))
        .WillByDefault([&](const std::string& id, const std::string&, VMInfoStructs::SChildDisk& snap) {
            ++polls[id];
            snap.state = states[id].front();
            if (states[id].size() > 1) states[id].pop_front();
            return true;
        });
    EXPECT_TRUE(tasks.CompleteSnapshotTask({"snap-a", "snap-b", "snap-c"}, "us-east-1", false));
    EXPECT_EQ(1, polls["snap-a"]);
    EXPECT_EQ(3, polls["snap-b"]);
    EXPECT_EQ(2, polls["snap-c"]);
    EXPECT_EQ(360, SleptSec());
}

TEST_F(TaskUtilsTest, OneFailedSnapshotFailsTheList) {
    ON_CALL(admin, GetSnapshotInfo(_, _, _))
        .WillByDefault([](const std::string& id, const std::string&, VMInfoStructs::SChildDisk& snap) {
            snap.state = id == "snap-bad" ? "error" : "completed";
            return true;
        });
    EXPECT_FALSE(tasks.CompleteSnapshotTask({"snap-a", "snap-bad", "snap-c"}, "us-east-1", false));
    EXPECT_EQ(17, owner.GetLastVMError());
    EXPECT_EQ("Snapshot [snap-bad] is in state [error]", owner.GetLastVMErrorDetails());
    EXPECT_EQ(120, SleptSec());

    EXPECT_CALL(admin, GetSnapshotInfo("snap-gone", _, _)).WillOnce(Return(false));
    EXPECT_FALSE(tasks.CompleteSnapshotTask({"snap-gone"}, "us-east-1", false));
    EXPECT_TRUE(Logged("Failed to get snapshot info for snapshot [snap-gone] Error [admin: last error]"));
}

TEST_F(TaskUtilsTest, SnapshotListTimeOutGivesTheAdvice) {
    Set("AMITimeoutInSec", "240");
    ON_CALL(source, GetSnapshotInfo(_, _, _))
        .WillByDefault(DoAll(::testing::WithArg<2>([](VMInfoStructs::SChildDisk& s) { s.state = "pending"; }),
                             Return(true)));
    EXPECT_FALSE(tasks.CompleteSnapshotTask({"snap-a"}, "us-east-1", true));
    EXPECT_EQ(17, owner.GetLastVMError());
    EXPECT_EQ(kSnapshotAdvice, owner.GetLastVMErrorDetails());
    EXPECT_EQ(240, SleptSec());
}

// ---- instance validation ----------------------------------------------------

TEST_F(TaskUtilsTest, FailedOrTimedOutValidationLogsTheConsoleButACancelDoesNot) {
    EXPECT_CALL(admin, IsInstanceValidationtaskCompleted("i-1", _)).WillOnce(DoneAfter(1, false));
    EXPECT_CALL(admin, LogConsoleOutput("i-1")).Times(1);
    EXPECT_FALSE(tasks.CompleteInstanceValidationTask("i-1", "us-east-1", false));
    EXPECT_EQ(234, owner.GetLastVMError());
    EXPECT_EQ("admin: last error", owner.GetLastVMErrorDetails());
    ::testing::Mock::VerifyAndClearExpectations(&admin);

    EXPECT_CALL(admin, LogConsoleOutput("i-1")).Times(1);

    Set("nAmazonValidateInstanceStatusTaskTimeOutInMin", "1");
    ON_CALL(admin, IsInstanceValidationtaskCompleted(_, _)).WillByDefault(Return(false));
    EXPECT_FALSE(tasks.CompleteInstanceValidationTask("i-1", "us-east-1", false));
    EXPECT_EQ(kValidationAdvice, owner.GetLastVMErrorDetails());
    ::testing::Mock::VerifyAndClearExpectations(&admin);

    EXPECT_CALL(admin, LogConsoleOutput(_)).Times(0);
    owner.SetJobCancelled(true);
    EXPECT_FALSE(tasks.CompleteInstanceValidationTask("i-1", "us-east-1", false));
    EXPECT_EQ(4000, owner.GetLastVMError());
}
