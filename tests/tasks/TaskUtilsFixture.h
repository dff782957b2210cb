#pragma once
// Shared set-up of the task utility's tests: a source and an admin bridge
// whose calls are scripted, an unconnected owner that receives the errors,
// a virtual clock and a log tap.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "bridge/AmazonSDKBridge.h"
#include "factory/AmazonInfo.h"
#include "framework/Clock.h"
#include "support/LogTap.h"
#include "support/TestEnv.h"
#include "tasks/AmazonTaskUtils.h"

// The operations the task utility drives.
class TaskBridgeMock : public CAmazonSDKBridge {
public:
    MOCK_METHOD(std::string, GetLastErrorString, (), (const, override));
    MOCK_METHOD(bool, CreateVolume, (VMInfoStructs::SDisk&, bool, const std::string&), (override));
    MOCK_METHOD(bool, CreateVolume,
                (const std::string&, const std::string&, const std::string&, const std::string&, int, long long, bool,
                 const std::string&, std::string&, (const std::map<std::string, std::string>&), bool,
                 const std::string&),
                (override));
    MOCK_METHOD(bool, AttachVolume,
                (const std::string&, const std::string&, const std::string&, bool, const std::string&, bool&, bool),
                (override));
    MOCK_METHOD(bool, AttachAsOSVolume,
                (const std::string&, const std::string&, const std::string&, bool, const std::string&, bool&, bool),
                (override));
    MOCK_METHOD(bool, DetachVolume, (const std::string&, bool, bool), (override));
    MOCK_METHOD(bool, DeleteVolume, (const std::string&, bool), (override));
    MOCK_METHOD(bool, ModifyVolume, (const std::string&, const std::string&, const std::string&, int), (override));
    MOCK_METHOD(bool, GetVolumeInfo, (const std::string&, const std::string&, VMInfoStructs::SDisk&, bool&),
                (override));
    MOCK_METHOD(bool, GetVolumeModifyTaskInfo, (const std::string&, const std::string&, std::string&), (override));
    MOCK_METHOD(bool, GetSnapshotInfo, (const std::string&, const std::string&, VMInfoStructs::SChildDisk&),
                (override));
    MOCK_METHOD(bool, IsAMITaskCompleted, (const std::string&, bool&), (override));
    MOCK_METHOD(bool, CancelAMITask, (const std::string&), (override));
    MOCK_METHOD(bool, TagEBSSnapshotsForAMI, (const std::string&, const std::string&, const std::string&),
                (override));
    MOCK_METHOD(bool, IsInstanceValidationtaskCompleted, (const std::string&, bool&), (override));
    MOCK_METHOD(bool, LogConsoleOutput, (const std::string&), (override));
    MOCK_METHOD(bool, SaveInstanceScreenshot, (const std::string&, const std::string&), (override));
};

// An empty volume of 1 GiB to be made in us-east-1a.
inline VMInfoStructs::SDisk EmptyDisk() {
    VMInfoStructs::SDisk d;
    d.zone = "us-east-1a";
    d.size = 1LL << 30;
    return d;
}

// Advice texts as the user reads them: "\\n" is a backslash and an n.
constexpr char kVolumeAdviceText[] =
    "Volume task has timed out. Please consider setting a higher timeout by adding the "
    "VirtualServer\\nAmazonVolumeTaskTimeOutInMin additional setting on the Ostrel proxy.";

struct TaskUtilsTest : ::testing::Test {
    TestEnv env;
    CAmazonInfo owner{kAmazonInstanceType};
    ::testing::NiceMock<TaskBridgeMock> source;
    ::testing::NiceMock<TaskBridgeMock> admin;
    CAmazonTaskUtils tasks{&source, &admin, &owner};
    LogTap log;

    void SetUp() override {
        ON_CALL(admin, GetLastErrorString()).WillByDefault(::testing::Return("admin: last error"));
        ON_CALL(source, GetLastErrorString()).WillByDefault(::testing::Return("source: last error"));
    }

    int64_t SleptSec() { return env.Clock().TotalSleptMs() / 1000; }
    bool Logged(const std::string& text) const { return log.Has(text); }
    static void Set(const std::string& key, const std::string& value) {
        TestEnv::SetSetting("VirtualServer", key, value);
    }

    // The volume reports these states, one per poll; the last one repeats.
    void VolumeStates(TaskBridgeMock& bridge, std::vector<std::string> states) {
        auto queue = std::make_shared<std::deque<std::string>>(states.begin(), states.end());
        ON_CALL(bridge, GetVolumeInfo(::testing::_, ::testing::_, ::testing::_, ::testing::_))
            .WillByDefault([queue](const std::string&, const std::string&, VMInfoStructs::SDisk& d, bool& notFound) {
                notFound = false;
                // "in-use:attaching" gives the attachment state; a plain
                // "in-use" is attached.
                const std::string& text = queue->front();
                const size_t colon = text.find(':');
                d.state = text.substr(0, colon);
                d.attachState = colon != std::string::npos ? text.substr(colon + 1)
                                : d.state == "in-use"      ? "attached"
                                                           : "";
                if (queue->size() > 1) queue->pop_front();
                return true;
            });
    }
    // The bridge creates the empty volume vol-new.
    void CreatesEmptyVolume(TaskBridgeMock& bridge) {
        ON_CALL(bridge, CreateVolume(::testing::_, false, ::testing::_))
            .WillByDefault([](VMInfoStructs::SDisk& d, bool, const std::string&) {
                d.newVolumeId = "vol-new";
                return true;
            });
    }
    void CreatesVolumeFromSnapshot(TaskBridgeMock& bridge) {
        using ::testing::_;
        ON_CALL(bridge, CreateVolume(_, _, _, _, _, _, _, _, _, _, _, _))
            .WillByDefault(::testing::DoAll(::testing::SetArgReferee<8>("vol-snap"), ::testing::Return(true)));
    }
    bool CreateFromSnapshot(std::string& volumeId, bool useSourceAccount = false) {
        return tasks.CreateVolumeFromSnapshot("snap-1", "us-east-1a", "us-east-1", "restored", "gp2", "io1", 100,
                                              3000, 8589934592LL, true, "key-1", volumeId, {{"k", "v"}},
                                              useSourceAccount, "");
    }
};
