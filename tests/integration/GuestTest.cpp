// Guest file commands through the built host program and plug-in on a fresh
// demo base: browsing, restoring a file (one whose path would run code if it
// were pasted into the guest's command unquoted), running scripts, in the
// proxy's region and in another, and nothing staged or running afterwards.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "cloudsim/Cloud.h"
#include "framework/FileUtils.h"
#include "integration/HostRun.h"
#include "support/TestEnv.h"

namespace {
const char kWeb[] = "i-0a1b2c3d4e5f60001";    // web-server-01, source account, us-east-1a
const char kWest[] = "i-0a1b2c3d4e5f60004";   // analytics-01, source account, us-west-2a

using ::testing::HasSubstr;

std::string Quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

struct GuestHost : ::testing::Test {
    TestEnv env;
    std::string base = env.BaseDir() + "/base";

    std::string Host(const std::string& args, int& code) {
        return RunHost("--base " + base + " " + args + " --job " + kDemoJob, code);
    }
    std::string Local(const std::string& name, const std::string& bytes) {
        const std::string path = env.BaseDir() + "/" + name;
        EXPECT_TRUE(FwFile::WriteAllAtomic(path, bytes));
        return path;
    }
    template <class F>
    void Read(F f) {
        cloudsim::Cloud::OpenFolder(base + "/cloudsim", "")->Read(f);
    }
    // The guest's files as "path=bytes" lines.
    std::string Tree(const std::string& instance) {
        std::string out;
        Read([&](const cloudsim::State& s) {
            for (const auto& f : s.guests.at(instance).files) out += f.path + "=" + f.data + "\n";
        });
        return out;
    }
    // Whatever a guest job may leave: staged objects, commands still running,
    // entries in the cleanup store.
    void ExpectNothingLeft() {
        Read([&](const cloudsim::State& s) {
            for (const auto& o : s.objects)
                EXPECT_EQ(std::string::npos, o.key.find("__QX_RESTORE__")) << o.bucket << "/" << o.key;
            for (const auto& [id, c] : s.commands)
                EXPECT_TRUE(cloudsim::IsFinalCommandStatus(c.status)) << id << " " << c.status << " " << c.script;
        });
        EXPECT_EQ("", CleanStoreProblem(base, "restore", kDemoJob));
    }
};

TEST_F(GuestHost, BrowseRestoreAndRunOnAFreshDemoBase) {
    ASSERT_TRUE(FwFile::MakeDirs(base));
    int code = -1;
    std::string out = Host("guest-browse --instance " + std::string(kWeb), code);
    ASSERT_EQ(0, code) << out;
    EXPECT_THAT(out, HasSubstr("  d "));
    EXPECT_THAT(out, HasSubstr("  /\n"));
    out = Host("guest-browse --instance " + std::string(kWeb) + " /var/www/html", code);
    ASSERT_EQ(0, code) << out;
    EXPECT_THAT(out, HasSubstr("index.html"));

    // Pasted between quotes unescaped, this path would end the guest's
    // string at its quote and remove /var/www.
    const std::string before = Tree(kWeb);
    const std::string to = "/home/ec2-user/x'; Remove-Item -Recurse '/var/www";
    const std::string source = Local("it's; Remove-Item a.txt", "restored bytes\n");
    out = Host("guest-restore --instance " + std::string(kWeb) + " --file " + Quote(source) + " --to " + Quote(to),
               code);
    ASSERT_EQ(0, code) << out;
    EXPECT_EQ(before + to + "=restored bytes\n\n", Tree(kWeb)) << "the guest changed in more than the one file";
    Read([&](const cloudsim::State& s) {
        for (const auto& [id, c] : s.commands) EXPECT_EQ("", c.stderrText) << c.script;
    });
    out = Host("guest-browse --instance " + std::string(kWeb) + " " + Quote(to.substr(0, to.size() - 4)), code);
    ASSERT_EQ(0, code) << out;
    EXPECT_THAT(out, HasSubstr("15  "));
    EXPECT_THAT(out, HasSubstr("www"));

    const std::string ok = Local("ok.sh", "echo 'hi'\nexit 0\n");
    out = Host("guest-run --instance " + std::string(kWeb) + " --script " + ok, code);
    ASSERT_EQ(0, code) << out;
    EXPECT_THAT(out, HasSubstr("exit code 0"));
    const std::string failing = Local("fail.sh", "exit 3\n");
    out = Host("guest-run --instance " + std::string(kWeb) + " --script " + failing, code);
    EXPECT_EQ(1, code) << out;
    EXPECT_THAT(out, HasSubstr("(error "));
    ExpectNothingLeft();
}

TEST_F(GuestHost, AnInstanceInAnotherRegionIsReachedThere) {
    ASSERT_TRUE(FwFile::MakeDirs(base));
    int code = -1;
    const std::string source = Local("west.csv", "day,visits\n2,200\n");
    std::string out = Host("guest-restore --instance " + std::string(kWest) + " --file " + source +
                               " --to /opt/analytics/jobs/west.csv",
                           code);
    ASSERT_EQ(0, code) << out;
    out = Host("guest-browse --instance " + std::string(kWest) + " /opt/analytics/jobs", code);
    ASSERT_EQ(0, code) << out;
    EXPECT_THAT(out, HasSubstr("west.csv"));
    Read([&](const cloudsim::State& s) {
        EXPECT_FALSE(s.commands.empty());
        for (const auto& [id, c] : s.commands) EXPECT_EQ("us-west-2", c.region) << c.script;
    });
    EXPECT_THAT(Tree(kWest), HasSubstr("/opt/analytics/jobs/west.csv=day,visits\n2,200\n"));
    ExpectNothingLeft();
}

TEST_F(GuestHost, FailuresExitOneAndBadLinesTwo) {
    ASSERT_TRUE(FwFile::MakeDirs(base));
    int code = -1;
    for (const std::string& bad : {std::string("guest-restore --instance ") + kWeb + " --file /etc/hostname",
                                   std::string("guest-browse /tmp"),
                                   std::string("guest-browse --instance ") + kWeb + " /a /b",
                                   std::string("guest-run --instance ") + kWeb + " --script x --timeout 0",
                                   std::string("guest-browse --instance ") + kWeb + " --to /x"}) {
        const std::string out = Host(bad, code);
        EXPECT_EQ(2, code) << bad << "\n" << out;
    }
    std::string out = Host("guest-browse --instance i-0000000000000dead", code);
    EXPECT_EQ(1, code) << out;
    // Stopped: run-command does not reach it, and the guest check says so.
    out = Host("guest-browse --instance i-0a1b2c3d4e5f60003", code);
    EXPECT_EQ(1, code) << out;
    EXPECT_THAT(out, HasSubstr("error: the guest of i-0a1b2c3d4e5f60003 cannot be prepared"));
    out = Host("guest-restore --instance " + std::string(kWeb) + " --file " + env.BaseDir() + "/none --to /tmp/x",
               code);
    EXPECT_EQ(1, code) << out;
    EXPECT_THAT(out, HasSubstr("cannot read the local file"));
    ExpectNothingLeft();
}

}  // namespace
