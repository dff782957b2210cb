#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "framework/Clock.h"
#include "framework/FileUtils.h"
#include "support/TestEnv.h"

TEST(FwFile, AtomicWriteTreesAndTimes) {
    TestEnv env;
    std::string path = FwFile::JoinPath(env.BaseDir(), "/d/data.txt");
    EXPECT_EQ(env.BaseDir() + "/d/data.txt", path);
    EXPECT_FALSE(FwFile::WriteAllAtomic(path, "x")) << "folder missing";
    ASSERT_TRUE(FwFile::MakeDirs(env.BaseDir() + "/d"));
    ASSERT_TRUE(FwFile::WriteAllAtomic(path, "first version, longer"));
    ASSERT_TRUE(FwFile::WriteAllAtomic(path, std::string("sec\0nd", 6)));
    std::string read;
    EXPECT_TRUE(FwFile::ReadAll(path, read) && read == std::string("sec\0nd", 6));
    EXPECT_EQ(6, FwFile::FileSize(path));
    std::vector<std::string> names;
    EXPECT_TRUE(FwFile::ListDir(env.BaseDir() + "/d", names));
    EXPECT_EQ(std::vector<std::string>{"data.txt"}, names) << "no temporary left behind";
    ASSERT_TRUE(FwFile::SetModifiedTimeSec(path, 1700000000));
    EXPECT_EQ(1700000000, FwFile::ModifiedTimeSec(path));
    EXPECT_TRUE(FwFile::RemoveTree(env.BaseDir() + "/d"));
    EXPECT_EQ(-1, FwFile::ModifiedTimeSec(path));
    EXPECT_EQ(-1, FwFile::FileSize(path));
    EXPECT_TRUE(FwFile::RemoveTree(env.BaseDir() + "/d")) << "already gone is fine";
}

TEST(FwGuid, IsVersionFourAndUnique) {
    const std::regex shape("^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$");
    std::set<std::string> seen;
    for (int i = 0; i < 2000; ++i) {
        std::string g = FwGuid::New();
        ASSERT_TRUE(std::regex_match(g, shape)) << g;
        seen.insert(g);
    }
    EXPECT_EQ(2000u, seen.size());
}

TEST(Clock, VirtualTimeAndProcessClockSwap) {
    VirtualClock c(1000);
    for (int64_t ms : {250, -50, 0}) c.SleepMs(ms);
    c.AdvanceMs(10);
    EXPECT_EQ(1260, c.NowMs());
    EXPECT_EQ(250, c.TotalSleptMs()) << "advancing is not sleeping";

    auto first = std::make_shared<VirtualClock>(5000);
    FwClock::Set(first);
    IClock& held = FwClock::Get();
    FwClock::SleepMs(3600 * 1000);
    EXPECT_EQ(5 + 3600, FwClock::NowSec());
    FwClock::Set(std::make_shared<VirtualClock>(9000));
    first.reset();
    EXPECT_EQ(9000, FwClock::NowMs());
    EXPECT_EQ(5000 + 3600 * 1000, held.NowMs()) << "a reference taken earlier stays usable";
    FwClock::Set(nullptr);
    EXPECT_LE(std::llabs(FwClock::NowMs() - SystemClock().NowMs()), 5000);
}
