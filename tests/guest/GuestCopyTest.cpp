// Copying files into guests, running scripts, the waits behind both, and
// what a job leaves when it ends or never does.
#include <unistd.h>

#include "guest/GuestFixture.h"

using namespace guesttest;
using ::testing::HasSubstr;

TEST_F(GuestFixture, ACopiedFileArrivesWithItsBytesAndLeavesNothingStaged) {
    ASSERT_EQ(1, object.PrepareGuestForFileCopy(Windows()));
    const std::string bytes("line one\r\n\0binary\xff", 19);
    const std::string source = LocalFile("a.txt", bytes);
    ASSERT_EQ(1, object.CopyFileToGuest(Windows(), source, "C:\\restore\\deep\\a.txt", false))
        << object.GetLastVMErrorDetails();
    EXPECT_EQ(bytes, GuestFile(kWindows, "C:\\restore\\deep\\a.txt"));
    const std::string key = object.GuestFileState().stagingFolder + "/a.txt";
    EXPECT_TRUE(log.Has("Uploading [" + source + "] to bucket [qx-restore-111122223333] as key [" + key + "]"));
    EXPECT_TRUE(Keys(kDefaultBucket).empty());
}

TEST_F(GuestFixture, ARestoredNameIsDataNeverCode) {
    ASSERT_EQ(1, object.PrepareGuestForFileCopy(Windows()));
    const std::string destination = std::string("C:\\restore\\") + kNasty + "x.txt";
    ASSERT_EQ(1, object.CopyFileToGuest(Windows(), LocalFile("x.txt", "payload"), destination, false))
        << object.GetLastVMErrorDetails();
    EXPECT_EQ("payload", GuestFile(kWindows, destination));
    EXPECT_EQ("MZ", GuestFile(kWindows, "C:\\Windows\\system32\\cmd.exe"));
    EXPECT_EQ("hello", GuestFile(kWindows, "C:\\data\\plain.txt"));
    EXPECT_THAT(Scripts().back(), HasSubstr("-File 'C:\\restore\\it''s''; Remove-Item -Recurse ''C:\\x.txt'"));
}

TEST_F(GuestFixture, ASourceEndingInASeparatorIsRefused) {
    ASSERT_EQ(1, object.PrepareGuestForFileCopy(Linux()));
    size_t before = Scripts().size();
    EXPECT_EQ(0, object.CopyFileToGuest(Linux(), env.BaseDir() + "/", "/tmp/x", false));
    EXPECT_EQ(165, object.GetLastVMError());
    EXPECT_EQ(before, Scripts().size());
    EXPECT_TRUE(Keys(kDefaultBucket).empty());
}

TEST_F(GuestFixture, CopyWithoutAPreparedBucketFails) {
    EXPECT_EQ(0, object.CopyFileToGuest(Linux(), LocalFile("a", "a"), "/tmp/a", false));
    EXPECT_TRUE(log.Has("S3 Bucket name is not set"));
}

TEST_F(GuestFixture, CleaningTheStagingFolderKeepsFoldersThatShareItsPrefix) {
    ASSERT_EQ(1, object.PrepareGuestForFileCopy(Linux()));
    const std::string staging = object.GuestFileState().stagingFolder;
    cloud->Write([&](cloudsim::State& s) {
        cloudsim::PutObject(s, kDefaultBucket, staging + "3/other-job.txt", "theirs");
        cloudsim::PutObject(s, kDefaultBucket, staging + "/left.txt", "ours");
    });
    ASSERT_EQ(1, object.CopyFileToGuest(Linux(), LocalFile("n.txt", "n"), "/home/ec2-user/n.txt", false));
    EXPECT_EQ(std::vector<std::string>{staging + "3/other-job.txt"}, Keys(kDefaultBucket));
}

TEST_F(GuestFixture, AFailedDownloadGives165AndCleansTheStagingFolder) {
    ASSERT_EQ(1, object.PrepareGuestForFileCopy(Windows()));
    // Read-S3Object cannot write over a folder.
    EXPECT_EQ(0, object.CopyFileToGuest(Windows(), LocalFile("sub", "s"), "C:\\data\\sub", false));
    EXPECT_EQ(165, object.GetLastVMError());
    EXPECT_EQ("Unable to confirm transfer of file [" + env.BaseDir() + "/sub] from S3 to guest instance [" + kWindows +
                  "]",
              object.GetLastVMErrorDetails());
    for (const auto& key : Keys(kDefaultBucket)) EXPECT_EQ(std::string::npos, key.find("/sub")) << key;
}

TEST_F(GuestFixture, CancellingWhileWaitingGives4000AndCancelsTheCommand) {
    ASSERT_EQ(1, object.PrepareGuestForFileCopy(Linux()));
    log.OnLine([&](const std::string& line) {
        if (line.find("] : [InProgress].") != std::string::npos) object.SetJobCancelled(true);
    });
    EXPECT_EQ(0, object.CopyFileToGuest(Linux(), LocalFile("c.txt", "c"), "/home/ec2-user/c.txt", false));
    EXPECT_EQ(4000, object.GetLastVMError());
    EXPECT_TRUE(log.Has("Detected Quit flag"));
    EXPECT_EQ("Cancelled", Commands().back().status);
    env.Clock().SleepMs(60000);
    EXPECT_EQ("<none>", GuestFile(kLinux, "/home/ec2-user/c.txt"));
    EXPECT_TRUE(Keys(kDefaultBucket).empty());
}

TEST_F(GuestFixture, ATimeOutGivesItsTextAndLeavesTheCommandRunningAlsoWhenTheJobEnds) {
    EXPECT_EQ(0, object.ExecuteScriptInGuest(Linux(), "Start-Sleep -Seconds 600", 10));
    EXPECT_EQ("Command execution has timed out.", object.GetLastVMErrorDetails());
    EXPECT_TRUE(log.Has("Command timed out."));
    EXPECT_EQ("InProgress", Commands().back().status);
    ASSERT_EQ(1, object.Disconnect());
    EXPECT_EQ("InProgress", Commands().back().status);
}

TEST_F(GuestFixture, ADefaultWaitIsADayPolledEveryTwoSeconds) {
    const int64_t before = env.Clock().TotalSleptMs();
    EXPECT_EQ(0, object.ExecuteScriptInGuest(Windows(), "Start-Sleep -Seconds 90000", 1));
    EXPECT_EQ(2000, env.Clock().TotalSleptMs() - before);
    ASSERT_EQ(1, object.PrepareGuestForFileCopy(Windows()));
    cloud->Write([](cloudsim::State& s) { s.timing.commandMs = 36000000; });
    const int64_t start = env.Clock().TotalSleptMs();
    std::vector<VMInfoStructs::SGuestFile> files;
    EXPECT_EQ(0, object.BrowseGuest(Windows(), "C:\\data", files));
    EXPECT_TRUE(log.Has("Timeout value [86400] seconds"));
    // Run-command's own one-hour limit ends the command before the day is up.
    EXPECT_EQ(3600000, env.Clock().TotalSleptMs() - start);
    EXPECT_EQ("TimedOut", Commands().back().status);
}

TEST_F(GuestFixture, ScriptFilesReportTheirExitCode) {
    const std::string script = LocalFile("s.ps1", "echo 'hi'\nexit 0\n");
    int exitCode = 99;
    ASSERT_EQ(1, object.ExecuteScriptInGuest(Windows(), script, "", "", 60, "", exitCode));
    EXPECT_EQ(0, exitCode);
    EXPECT_EQ("hi\r\n", Commands().back().stdoutText);
    // Not awaited: the exit code is set to "not known", never left as it was.
    exitCode = 99;
    ASSERT_EQ(1, object.ExecuteScriptInGuest(Windows(), script, "", "", 0, "", exitCode));
    EXPECT_EQ(-1, exitCode);
    exitCode = 99;
    ASSERT_EQ(1, object.ExecuteScriptInGuest(Windows(), script, "", "", -5, "", exitCode));
    EXPECT_EQ(-1, exitCode);
    const std::string failing = LocalFile("f.ps1", "exit 3");
    EXPECT_EQ(0, object.ExecuteScriptInGuest(Windows(), failing, "", "", 60, "", exitCode));
    EXPECT_EQ(0, object.ExecuteScriptInGuest(Windows(), env.BaseDir() + "/none.ps1", "", "", 60, "", exitCode));
    EXPECT_TRUE(log.Has("Script file [" + env.BaseDir() + "/none.ps1] does not exist."));
}

TEST_F(GuestFixture, LinuxScriptsRunAsShell) {
    ASSERT_EQ(1, object.ExecuteScriptInGuest(Linux(), "echo 'it''s'", 60));
    EXPECT_EQ("AWS-RunShellScript", Commands().back().document);
    EXPECT_EQ("its\n", Commands().back().stdoutText);
}

TEST_F(GuestFixture, AnInstanceInAnotherRegionUsesItsOwn) {
    const GuestCtx west = Ctx(kWest, "us-west-2a");
    ASSERT_EQ(1, object.PrepareGuestForFileCopy(west)) << object.GetLastVMErrorDetails();
    EXPECT_EQ("us-west-2", object.GuestFileState().ssmRegion);
    EXPECT_EQ("us-west-2", object.GuestFileState().bucketRegion);
    ASSERT_EQ(1, object.CopyFileToGuest(west, LocalFile("w.txt", "west"), "/home/ec2-user/w.txt", false))
        << object.GetLastVMErrorDetails();
    EXPECT_EQ("west", GuestFile(kWest, "/home/ec2-user/w.txt"));
    for (const auto& c : Commands()) EXPECT_EQ("us-west-2", c.region);
}

TEST_F(GuestFixture, CrossAccountSharesTheAdminBucketWithTheSource) {
    CAmazonInfo cross{kAmazonInstanceType};
    ASSERT_EQ(1, ConnectDemo(cross, Accounts::SourceAndAdmin));
    ASSERT_EQ(1, cross.PrepareGuestForFileCopy(Linux())) << cross.GetLastVMErrorDetails();
    EXPECT_EQ("qx-restore-444455556666", cross.GuestFileState().bucket);
    EXPECT_TRUE(log.Has("Cross account agentless restore is supported."));
    ASSERT_EQ(1, cross.CopyFileToGuest(Linux(), LocalFile("x.txt", "cross"), "/home/ec2-user/x.txt", false))
        << cross.GetLastVMErrorDetails();
    EXPECT_EQ("cross", GuestFile(kLinux, "/home/ec2-user/x.txt"));
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
