#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>
#include <tuple>

#include "framework/Clock.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/KDPI.h"
#include "support/TestEnv.h"

namespace {
std::vector<std::string> LogLines() {
    std::istringstream in(TestEnv::ReadFile(EvDebug::LogFilePath()));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}
}  // namespace

TEST(Log, LineCarriesVirtualTimePidThreadLevelAndTag) {
    TestEnv env;
    env.Clock().AdvanceMs(((1 * 60 + 2) * 60 + 3) * 1000 + 4);  // 2027-01-01 01:02:03.004 UTC
    EvDebug::Debug("int Foo::Bar(int)", "value=%d name=%s\n", 5, "x");
    EvDebug::Error("tagE", "failed");
    EvDebug::DebugLvl("tagL", 2, "level two");
    EXPECT_EQ(env.BaseDir() + "/Log/agent.log", EvDebug::LogFilePath());
    std::string prefix =
        "2027-01-01 01:02:03.004 " + std::to_string(getpid()) + " " + std::to_string(FwThread::CurrentThreadId()) + " ";
    EXPECT_EQ((std::vector<std::string>{prefix + "DEBUG [int Foo::Bar(int)] value=5 name=x",
                                        prefix + "ERROR [tagE] failed", prefix + "DEBUG2 [tagL] level two"}),
              LogLines());
}

TEST(Log, LevelIsReadOnceAndReloadedOnRequest) {
    TestEnv env;
    std::vector<std::tuple<int, std::string, std::string>> seen;
    EvDebug::SetTap([&](int level, const std::string& tag, const std::string& m) { seen.emplace_back(level, tag, m); });
    EXPECT_TRUE(EvDebug::IsLevelEnabled(2));
    EvDebug::DebugLvl("t", 3, "hidden at the default level");
    TestEnv::SetSetting("Base", "nDebugLevel", "5");
    EvDebug::DebugLvl("t", 5, "still hidden until reload");
    EvDebug::Reload();
    EvDebug::DebugLvl("t", 5, "shown %s", "now");
    EvDebug::DebugLvl("t", 6, "too detailed");
    EXPECT_EQ((std::vector<std::tuple<int, std::string, std::string>>{{5, "t", "shown now"}}), seen);
    ASSERT_EQ(1u, LogLines().size());
    EXPECT_NE(std::string::npos, LogLines()[0].find(" DEBUG5 [t] shown now"));

    TestEnv::SetSetting("Base", "nDebugLevel", "verbose");
    EvDebug::Reload();
    EXPECT_TRUE(EvDebug::IsLevelEnabled(2) && !EvDebug::IsLevelEnabled(3)) << "malformed: the default";
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ(0, std::get<0>(seen[1]));
    EXPECT_NE(std::string::npos, std::get<2>(seen[1]).find("nDebugLevel"));
}

TEST(Log, FollowsBaseFolderAndKeepsLongMessagesWhole) {
    TestEnv env;
    EvDebug::Debug("t", "first");
    KDPI_Base::setBaseDir(env.BaseDir() + "/other");
    std::string longText(5000, 'q');
    EvDebug::Debug("t", "%s|end", longText.c_str());
    ASSERT_EQ(1u, LogLines().size());
    EXPECT_NE(std::string::npos, LogLines()[0].find("[t] " + longText + "|end"));
    KDPI_Base::setBaseDir(env.BaseDir());
    ASSERT_EQ(1u, LogLines().size());
    EXPECT_NE(std::string::npos, LogLines()[0].find("[t] first"));
}
