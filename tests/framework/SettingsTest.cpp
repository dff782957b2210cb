#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/KDPlatformInfo.h"
#include "support/TestEnv.h"

namespace {
void WriteSettings(const std::string& text) {
    ASSERT_TRUE(FwFile::WriteAllAtomic(KDPlatformInfo::settingsFilePath(), text));
}
}  // namespace

TEST(Settings, ParsesTypesSectionsCommentsAndBaseHome) {
    TestEnv env;
    WriteSettings("top=outside\n# c=1\n[Base]\n  nLevel =  7  \n; nHidden=5\nbYes=YES\nbOff=off\n"
                  "sList= a, b ,,c ,\nnBig=-9000000000\n[VirtualServer]\nnLevel=+12\nnLevel=13\n");
    KDPlatformInfo s;
    int n = -1;
    long long big = 0;
    bool yes = false, off = true;
    std::string str, home;
    std::vector<std::string> list;
    EXPECT_TRUE(s.getNumber("Base", "nLevel", n) && n == 7);
    EXPECT_TRUE(s.getNumber("VirtualServer", "nLevel", n) && n == 13) << "a later duplicate wins";
    EXPECT_FALSE(s.getNumber("Base", "nHidden", n) || s.getNumber("", "# c", n));
    EXPECT_TRUE(s.getNumber("Base", "nBig", big) && big == -9000000000LL);
    EXPECT_TRUE(s.getBoolean("Base", "bYes", yes) && yes);
    EXPECT_TRUE(s.getBoolean("Base", "bOff", off) && !off);
    EXPECT_TRUE(s.getString("", "top", str) && str == "outside");
    EXPECT_FALSE(s.getString("base", "bYes", str)) << "sections are matched exactly";
    EXPECT_TRUE(s.getStringList("Base", "sList", list));
    EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), list);
    EXPECT_TRUE(s.getString("Base", "dBASEHOME", home));
    EXPECT_EQ(env.BaseDir(), home) << "falls back to the base folder";
    TestEnv::SetSetting("Base", "dBASEHOME", "/elsewhere");
    EXPECT_TRUE(KDPlatformInfo().getString("Base", "dBASEHOME", home) && home == "/elsewhere");
}

TEST(Settings, MalformedOrOutOfRangeValuesKeepDefaultAndAreLogged) {
    TestEnv env;
    WriteSettings("[S]\nn1=12abc\nn2=\nn3=+\nn4=1.5\nn5=0x10\nn6=3000000000\nn7=99999999999999999999\n"
                  "n8=+-3\nb1=maybe\n");
    std::vector<std::string> errors;
    EvDebug::SetTap([&](int level, const std::string&, const std::string& msg) {
        if (level == 0) errors.push_back(msg);
    });
    KDPlatformInfo s;
    for (const char* key : {"n1", "n2", "n3", "n4", "n5", "n6", "n7", "n8"}) {
        int n = 77;
        EXPECT_FALSE(s.getNumber("S", key, n)) << key;
        EXPECT_EQ(77, n) << key;
    }
    long long wide = 5;
    EXPECT_FALSE(s.getNumber("S", "n7", wide));
    EXPECT_TRUE(s.getNumber("S", "n6", wide) && wide == 3000000000LL) << "fits a long long, not an int";
    bool b = true;
    EXPECT_FALSE(s.getBoolean("S", "b1", b) || s.getNumber("S", "missing", wide));
    EXPECT_TRUE(b);
    ASSERT_EQ(10u, errors.size()) << "an absent key is not an error";
    EXPECT_NE(std::string::npos, errors[0].find("n1")) << errors[0];
    EXPECT_NE(std::string::npos, errors[0].find("12abc")) << errors[0];
}

TEST(Settings, SetValueKeepsOtherLinesAndOrder) {
    TestEnv env;
    WriteSettings("# head\n[Base]\na=1\nb=2\n; tail of base\n\n[Other]\nc=3\n");
    ASSERT_TRUE(KDPlatformInfo::setValue("Base", "a", "10"));
    ASSERT_TRUE(KDPlatformInfo::setValue("Base", "z", "26"));
    ASSERT_TRUE(KDPlatformInfo::setValue("New", "k", "v"));
    ASSERT_TRUE(KDPlatformInfo::removeValue("Other", "c"));
    ASSERT_TRUE(KDPlatformInfo::removeValue("Other", "never-there"));
    EXPECT_FALSE(KDPlatformInfo::setValue("Base", "x", "two\nlines")) << "would inject a line";
    EXPECT_EQ("# head\n[Base]\na=10\nb=2\nz=26\n; tail of base\n\n[Other]\n\n[New]\nk=v\n",
              TestEnv::ReadFile(KDPlatformInfo::settingsFilePath()));
}

TEST(Settings, ConcurrentWritersInThreadsAndProcessesLoseNothing) {
    TestEnv env;
    constexpr int kPerWriter = 15;
    auto writeKeys = [](const std::string& who) {
        for (int i = 0; i < kPerWriter; ++i) KDPlatformInfo::setValue("W", who + std::to_string(i), who);
    };
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        writeKeys("proc");
        _exit(0);
    }
    std::thread t1(writeKeys, "t1"), t2(writeKeys, "t2");
    t1.join();
    t2.join();
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    KDPlatformInfo s;
    for (const std::string who : {"proc", "t1", "t2"}) {
        for (int i = 0; i < kPerWriter; ++i) {
            std::string v;
            EXPECT_TRUE(s.getString("W", who + std::to_string(i), v) && v == who) << who << i;
        }
    }
}
