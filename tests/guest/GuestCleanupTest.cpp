// A guest job's end: what its failed commands left in the bucket goes with
// it, a command it was not waiting on any more is left alone, and a job that
// never ended is cleaned up by the next one.
#include "guest/GuestFixture.h"

using namespace guesttest;

TEST_F(GuestFixture, AFailedBrowseKeepsItsOutputOnlyUntilTheJobEnds) {
    std::vector<VMInfoStructs::SGuestFile> files;
    EXPECT_EQ(0, object.BrowseGuest(Windows(), "C:\\nowhere", files));
    EXPECT_FALSE(Keys(kDefaultBucket).empty());
    ASSERT_EQ(1, object.Disconnect());
    EXPECT_TRUE(Keys(kDefaultBucket).empty());
}

TEST_F(GuestFixture, ATimedOutScriptIsLeftRunningWhenTheJobEnds) {
    EXPECT_EQ(0, object.ExecuteScriptInGuest(Linux(), "Start-Sleep -Seconds 600", 10));
    ASSERT_EQ(1, object.Disconnect());
    EXPECT_EQ("InProgress", Commands().back().status);
}

TEST_F(GuestFixture, AJobThatNeverEndedIsCleanedByTheNextOne) {
    // The first job is stopped while its download runs, cannot cancel it,
    // and goes without ending: the command stays registered.
    {
        CAmazonInfo first{kAmazonInstanceType};
        ASSERT_EQ(1, ConnectDemo(first));
        ASSERT_EQ(1, first.PrepareGuestForFileCopy(Linux()));
        cloud->AddFault(cloudsim::FaultRule("CancelCommand", 0, "InternalError: injected"));
        log.OnLine([&](const std::string& line) {
            if (line.find("] : [InProgress].") != std::string::npos) first.SetJobCancelled(true);
        });
        EXPECT_EQ(0, first.CopyFileToGuest(Linux(), LocalFile("old.txt", "old"), "/home/ec2-user/n.txt", false));
        log.OnLine(nullptr);
        cloud->ClearFaults();
    }
    const cloudsim::Command stuck = Commands().back();
    ASSERT_EQ("InProgress", stuck.status);
    ASSERT_EQ(1, object.PrepareGuestForFileCopy(Linux())) << object.GetLastVMErrorDetails();
    EXPECT_TRUE(log.Has("Cancelling command [" + stuck.id + "] in region [us-east-1]"));
    ASSERT_EQ(1, object.CopyFileToGuest(Linux(), LocalFile("new.txt", "new"), "/home/ec2-user/n.txt", false));
    env.Clock().SleepMs(600000);
    for (const auto& c : Commands()) {
        if (c.id != stuck.id) continue;
        EXPECT_EQ("Cancelled", c.status);
    }
    EXPECT_EQ("new", GuestFile(kLinux, "/home/ec2-user/n.txt"));
    EXPECT_TRUE(Keys(kDefaultBucket).empty());
}
