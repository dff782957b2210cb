// The per-instance temporary folder and screenshots saved into it.
#include "framework/FileUtils.h"
#include "tasks/TaskUtilsFixture.h"

using ::testing::_;
using ::testing::Return;

TEST_F(TaskUtilsTest, TempDirectoryIsCreatedUnderTheAgentsTempFolder) {
    std::string path = "stale";
    ASSERT_TRUE(tasks.GetTempDirectoryForInstance("i-0abc", path));
    EXPECT_EQ(env.BaseDir() + "/Temp/i-0abc", path);
    EXPECT_TRUE(FwFile::IsDirectory(path));
    ASSERT_TRUE(tasks.GetTempDirectoryForInstance("i-0abc", path));  // already there is fine

    EXPECT_FALSE(tasks.GetTempDirectoryForInstance("", path));
    EXPECT_TRUE(path.empty());
    EXPECT_TRUE(Logged("Instance ID is empty"));
}

// The id becomes part of a path; one that climbs out of the temporary folder
// must not create or expose anything outside it.
TEST_F(TaskUtilsTest, TempDirectoryRefusesIdsThatLeaveTheTempFolder) {
    std::string path;
    for (const char* id : {"..", ".", "../escape", "a/b"}) {
        EXPECT_FALSE(tasks.GetTempDirectoryForInstance(id, path)) << id;
        EXPECT_TRUE(path.empty()) << id;
    }
    EXPECT_FALSE(FwFile::Exists(env.BaseDir() + "/escape"));
}

TEST_F(TaskUtilsTest, ScreenshotNeedsAnIdAndAnExistingFolder) {
    EXPECT_CALL(admin, SaveInstanceScreenshot(_, _)).Times(0);
    tasks.SaveInstanceScreenshot("", env.BaseDir());
    EXPECT_TRUE(Logged("Instance ID is empty"));
    tasks.SaveInstanceScreenshot("i-1", env.BaseDir() + "/missing");
    EXPECT_TRUE(Logged("Folder [" + env.BaseDir() + "/missing] does not exist"));
    ::testing::Mock::VerifyAndClearExpectations(&admin);

    const std::string file = env.BaseDir() + "/" + std::to_string(env.Clock().NowMs() / 1000) + ".jpg";
    EXPECT_CALL(admin, SaveInstanceScreenshot("i-1", file)).WillOnce(Return(true));
    tasks.SaveInstanceScreenshot("i-1", env.BaseDir());
}
