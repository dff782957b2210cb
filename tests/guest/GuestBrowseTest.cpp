// Preparing guests and browsing their file systems.
#include <algorithm>

#include "guest/GuestFixture.h"

using namespace guesttest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

TEST_F(GuestFixture, ALinuxRootIsSlashWithoutACommand) {
    ASSERT_EQ(1, object.PrepareGuestForFileCopy(Linux())) << object.GetLastVMErrorDetails();
    // Preparation asked the guest for PowerShell and the AWS module, as PowerShell.
    EXPECT_THAT(Scripts(), ElementsAre("$PSVersionTable.PSVersion", "Import-Module AWSPowerShell.NetCore;echo 'Success'"));
    std::vector<VMInfoStructs::SGuestFile> files;
    ASSERT_EQ(1, object.BrowseGuest(Linux(), "", files));
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ("/", files[0].name);
    EXPECT_TRUE(files[0].isFolder);
    EXPECT_EQ(2u, Scripts().size());
    // A folder still goes through the listing command.
    ASSERT_EQ(1, object.BrowseGuest(Linux(), "/home/ec2-user", files));
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ("notes.txt", files[0].name);
    EXPECT_EQ(5, files[0].size);
    EXPECT_EQ(42, files[0].modifiedTime);
    EXPECT_TRUE(log.Has("Destination instance [is not] running Windows"));
}

TEST_F(GuestFixture, MissingToolsGive220WithTheirText) {
    ChangeGuest(kLinux, [](cloudsim::Guest& g) { g.powershell = false; });
    EXPECT_EQ(0, object.PrepareGuestForFileCopy(Linux()));
    EXPECT_EQ(220, object.GetLastVMError());
    EXPECT_EQ("Please install Powershell .NET core.", object.GetLastVMErrorDetails());
    EXPECT_FALSE(object.GuestFileState().prepared);

    ChangeGuest(kLinux, [](cloudsim::Guest& g) {
        g.powershell = true;
        g.awsModule = false;
    });
    EXPECT_EQ(0, object.PrepareGuestForFileCopy(Linux()));
    EXPECT_EQ(220, object.GetLastVMError());
    EXPECT_EQ("Please install AWS powershell Module.", object.GetLastVMErrorDetails());
}

TEST_F(GuestFixture, WindowsSkipsThePowershellCheckAndListsDrives) {
    std::vector<VMInfoStructs::SGuestFile> files;
    ASSERT_EQ(1, object.BrowseGuest(Windows(), "", files)) << object.GetLastVMErrorDetails();
    EXPECT_TRUE(log.Has("Skipping powershell installation check for windows instance"));
    EXPECT_EQ("Import-Module AWSPowerShell;echo 'Success'", Scripts().front());
    EXPECT_THAT(Names(files), ElementsAre("C:", "D:"));
    EXPECT_TRUE(files[0].isFolder);
    // The guest answered with CR LF line ends, and no name kept one.
    EXPECT_THAT(Commands().back().stdoutText, HasSubstr("C:\r\nD:\r\n"));
}

TEST_F(GuestFixture, CGetsItsSeparatorAndDDoesNot) {
    std::vector<VMInfoStructs::SGuestFile> files;
    ASSERT_EQ(1, object.BrowseGuest(Windows(), "C:", files)) << object.GetLastVMErrorDetails();
    EXPECT_THAT(Names(files), UnorderedElementsAre("Windows", "data"));
    EXPECT_THAT(Scripts().back(), HasSubstr("get-childitem -LiteralPath 'C:\\')"));
    ASSERT_EQ(1, object.BrowseGuest(Windows(), "D:", files));
    EXPECT_THAT(Names(files), ElementsAre("backup"));
    EXPECT_THAT(Scripts().back(), HasSubstr("get-childitem -LiteralPath 'D:')"));
}

TEST_F(GuestFixture, AFolderListingSkipsNamesWithCommas) {
    std::vector<VMInfoStructs::SGuestFile> files;
    ASSERT_EQ(1, object.BrowseGuest(Windows(), "C:\\data", files)) << object.GetLastVMErrorDetails();
    EXPECT_THAT(Names(files), UnorderedElementsAre("plain.txt", "sub"));
    auto plain = std::find_if(files.begin(), files.end(), [](const auto& f) { return f.name == "plain.txt"; });
    EXPECT_EQ(5, plain->size);
    EXPECT_FALSE(plain->isFolder);
    EXPECT_EQ(1700000000, plain->modifiedTime);
    EXPECT_THAT(Commands().back().stdoutText, HasSubstr("a,b.txt,1,False,1700000001\r\n"));
    // Each command's output folder goes once its result is read.
    EXPECT_TRUE(Keys(kDefaultBucket).empty());
}

TEST_F(GuestFixture, AMissingFolderFailsAndKeepsItsOutputOnlyUntilTheJobEnds) {
    std::vector<VMInfoStructs::SGuestFile> files;
    EXPECT_EQ(0, object.BrowseGuest(Windows(), "C:\\nowhere", files));
    EXPECT_THAT(Commands().back().stderrText, HasSubstr("Cannot find path 'C:\\nowhere' because it does not exist."));
    EXPECT_EQ("Failed", Commands().back().status);
    EXPECT_FALSE(Keys(kDefaultBucket).empty());
    ASSERT_EQ(1, object.Disconnect());
    EXPECT_TRUE(Keys(kDefaultBucket).empty());
}

TEST_F(GuestFixture, AQuotedPathIsDataNeverCode) {
    // Were the path pasted between quotes, the guest would end the string at
    // the name's quote and run the Remove-Item that follows.
    ChangeGuest(kWindows, [](cloudsim::Guest& g) {
        g.files.push_back({std::string("C:\\data\\") + kNasty + "inner.txt", false, "in", 7});
    });
    std::vector<VMInfoStructs::SGuestFile> files;
    const std::string folder = std::string("C:\\data\\") + kNasty;
    ASSERT_EQ(1, object.BrowseGuest(Windows(), folder.substr(0, folder.size() - 1), files))
        << object.GetLastVMErrorDetails();
    EXPECT_THAT(Names(files), ElementsAre("inner.txt"));
    EXPECT_THAT(Scripts().back(), HasSubstr("'C:\\data\\it''s''; Remove-Item -Recurse ''C:'"));
    EXPECT_EQ("MZ", GuestFile(kWindows, "C:\\Windows\\system32\\cmd.exe"));
    for (const auto& c : Commands()) EXPECT_EQ("", c.stderrText) << c.script;
}

TEST_F(GuestFixture, ABucketNamedLikeOursButOwnedElsewhereIsRefused) {
    // Another account took the predictable name and even shared it to us.
    cloud->Write([](cloudsim::State& s) {
        s.buckets[kDefaultBucket] = {kDefaultBucket, "444455556666", "us-east-1",
                                     {"79a59df900b949e55d96a1e698fbacedfd6e09d98eacf8f8d5218e7cd47ef2be"}};
    });
    EXPECT_EQ(0, object.PrepareGuestForFileCopy(Linux()));
    EXPECT_EQ(164, object.GetLastVMError());
    EXPECT_TRUE(log.Has("Bucket [qx-restore-111122223333] is not owned by this account. Please provide a bucket name "
                        "using regKey : [AWSbucketForGuestFileRestore]"));
    EXPECT_TRUE(Scripts().empty());
}

TEST_F(GuestFixture, AConfiguredBucketThatDoesNotExistFallsBackToTheDefault) {
    TestEnv::SetSetting("VirtualServer", "AWSbucketForGuestFileRestore", "no-such-bucket-anywhere");
    ASSERT_EQ(1, object.PrepareGuestForFileCopy(Linux())) << object.GetLastVMErrorDetails();
    EXPECT_TRUE(log.Has("Bucket [no-such-bucket-anywhere] doesn't exist"));
    EXPECT_TRUE(log.Has("Bucket [qx-restore-111122223333] created successfully in region [us-east-1]"));
    EXPECT_EQ(kDefaultBucket, object.GuestFileState().bucket);
    auto bucket = Peek([](const cloudsim::State& s) { return s.buckets.at(kDefaultBucket); });
    EXPECT_EQ("111122223333", bucket.account);
}

TEST_F(GuestFixture, AConfiguredBucketIsUsedInItsRegion) {
    cloud->Write([](cloudsim::State& s) { s.buckets["mine"] = {"mine", "111122223333", "us-west-2", {}}; });
    TestEnv::SetSetting("VirtualServer", "AWSbucketForGuestFileRestore", "mine");
    ASSERT_EQ(1, object.PrepareGuestForFileCopy(Linux())) << object.GetLastVMErrorDetails();
    EXPECT_EQ("mine", object.GuestFileState().bucket);
    EXPECT_EQ("us-west-2", object.GuestFileState().bucketRegion);
    EXPECT_EQ(0, Peek([](const cloudsim::State& s) { return static_cast<int>(s.buckets.count(kDefaultBucket)); }));
}

TEST_F(GuestFixture, AnInstanceWithoutAnAgentOrRecordFails) {
    EXPECT_EQ(0, object.PrepareGuestForFileCopy(Ctx("i-0000000000000dead", "us-east-1a")));
    EXPECT_EQ(1, object.GetLastVMError());
    EXPECT_EQ(0, object.PrepareGuestForFileCopy(Ctx(kLinux, "")));
    EXPECT_TRUE(log.Has("Instance details are not set"));
    ChangeGuest(kLinux, [](cloudsim::Guest& g) { g.ssmAgent = false; });
    EXPECT_EQ(0, object.PrepareGuestForFileCopy(Linux()));
    EXPECT_LE(1, log.Containing("not in a valid state for account 111122223333"));
}

TEST_F(GuestFixture, TheStagingFolderNamesJobProcessAndThread) {
    ASSERT_EQ(1, object.PrepareGuestForFileCopy(Linux()));
    const std::string folder = object.GuestFileState().stagingFolder;
    EXPECT_EQ(0u, folder.find("__QX_RESTORE__0_" + std::to_string(getpid()) + "_")) << folder;
}
