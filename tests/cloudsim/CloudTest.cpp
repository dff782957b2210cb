// Transactions of the simulated cloud: fault rules, rollback, and a folder
// state shared with other Cloud objects and with processes that get killed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "cloudsim/Cloud.h"
#include "framework/FileUtils.h"
#include "support/TestEnv.h"

using cloudsim::Cloud;
using cloudsim::State;

namespace {

const char kWeb[] = "i-0a1b2c3d4e5f60001";

std::string Tag(Cloud& cloud, const std::string& key) {
    std::string value;
    cloud.Read([&](const State& s) {
        auto& tags = s.instances.at(kWeb).tags;
        value = tags.count(key) ? tags.at(key) : "";
    });
    return value;
}

int64_t Generation(Cloud& cloud) {
    int64_t g = -1;
    cloud.Read([&](const State& s) { g = s.generation; });
    return g;
}

// Runs body in a forked child whose lifetime the test controls; the child
// reports through the pipe and never returns into the test framework.
template <class F>
pid_t Fork(int (&fds)[2], F body) {
    if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        int code = 0;
        try {
            body(fds[1]);
        } catch (...) {
            code = 3;
        }
        _exit(code);
    }
    close(fds[1]);
    return pid;
}

bool ReadFull(int fd, int64_t& value) { return read(fd, &value, sizeof value) == static_cast<ssize_t>(sizeof value); }

void Kill(pid_t pid) {
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "child ended on its own, status " << status;
}

// The generation a commit in progress announces in the lock file before it
// replaces state.json.
int64_t AnnouncedGeneration(int lockFd) {
    char buf[32] = {};
    return pread(lockFd, buf, sizeof buf - 1, 0) > 0 ? std::atoll(buf) : -1;
}

class CloudTest : public ::testing::Test {
protected:
    TestEnv env;
    std::string folder = FwFile::JoinPath(env.BaseDir(), "sim");
};

}  // namespace

TEST_F(CloudTest, FaultRulesFailTheNthOrEveryCall) {
    auto cloud = Cloud::InMemory(TestEnv::ReadFile(AMAZON_DEMO_SEED));
    cloud->AddFault({"Connect", 2, "Throttling: Rate exceeded", 0});
    cloud->AddFault({"GetAccountId", 0, "", 0});
    std::string error;
    std::vector<bool> hits;
    for (int i = 0; i < 3; ++i) hits.push_back(cloud->CheckFault("Connect", error));
    EXPECT_EQ(hits, (std::vector<bool>{false, true, false}));
    EXPECT_EQ(error, "Throttling: Rate exceeded");
    EXPECT_TRUE(cloud->CheckFault("GetAccountId", error) && cloud->CheckFault("GetAccountId", error));
    EXPECT_EQ(error, "InternalError: injected failure of GetAccountId");
    cloud->ClearFaults();
    EXPECT_FALSE(cloud->CheckFault("GetAccountId", error));
}

TEST_F(CloudTest, ThrowingWriteLeavesStateAsItWas) {
    for (bool inFolder : {false, true}) {
        SCOPED_TRACE(inFolder ? "folder" : "memory");
        auto cloud = inFolder ? Cloud::OpenFolder(folder, AMAZON_DEMO_SEED)
                              : Cloud::InMemory(TestEnv::ReadFile(AMAZON_DEMO_SEED));
        int64_t before = Generation(*cloud);
        cloud->Write([](State& s) { s.instances.at(kWeb).tags["Department"] = "Sales"; });
        EXPECT_EQ(Generation(*cloud), before + 1);
        EXPECT_THROW(cloud->Write([](State& s) {
            s.instances.at(kWeb).tags["Department"] = "Legal";
            s.volumes.clear();
            s.NewId("vol");
            throw std::runtime_error("half done");
        }),
                     std::runtime_error);
        EXPECT_EQ(Tag(*cloud, "Department"), "Sales");
        cloud->Read([](const State& s) { EXPECT_TRUE(!s.volumes.empty() && s.nextId == 1); });
        // Nested transactions would lose the outer change; they are refused.
        EXPECT_THROW(cloud->Write([&](State&) { cloud->Read([](const State&) {}); }), std::logic_error);
        EXPECT_EQ(Generation(*cloud), before + 1);
    }
    EXPECT_EQ(Tag(*Cloud::OpenFolder(folder, ""), "Department"), "Sales");
}

TEST_F(CloudTest, FolderStateIsSharedBetweenCloudObjects) {
    EXPECT_THROW(Cloud::OpenFolder(folder, ""), std::runtime_error);
    EXPECT_THROW(Cloud::OpenFolder(folder, folder + "/missing.json"), std::runtime_error);
    auto a = Cloud::OpenFolder(folder, AMAZON_DEMO_SEED);
    auto b = Cloud::OpenFolder(folder, "");
    b->Write([](State& s) { s.instances.at(kWeb).tags["Owner"] = "bob"; });
    EXPECT_EQ(Tag(*a, "Owner"), "bob");

    // Fault counting is part of the state: two objects share one count.
    a->AddFault({"Connect", 2, "RequestLimitExceeded: slow down", 0});
    std::string error;
    EXPECT_FALSE(b->CheckFault("Connect", error));
    EXPECT_TRUE(a->CheckFault("Connect", error));
    EXPECT_EQ(error, "RequestLimitExceeded: slow down");

    // A folder that has a state ignores the seed it is opened with.
    auto c = Cloud::OpenFolder(folder, std::string(TEST_SOURCE_DIR) + "/tests/cloudsim/outpost-proxy-seed.json");
    EXPECT_EQ(Tag(*c, "Owner"), "bob");
}

TEST_F(CloudTest, WriterKilledMidCommitNeverCorruptsTheState) {
    Cloud::OpenFolder(folder, AMAZON_DEMO_SEED);
    int lockFd = open((folder + "/state.lock").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(lockFd, 0);
    // Each round kills at another depth into a commit: the parent waits
    // until the next commit has begun, then spins a growing while longer.
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        int fds[2];
        pid_t pid = Fork(fds, [&](int out) {
            auto child = Cloud::OpenFolder(folder, "");
            for (;;) {
                int64_t next = 0;
                child->Write([&](State& s) {
                    next = s.generation + 1;
                    s.instances.at(kWeb).tags["Counter"] = std::to_string(next);
                });
                if (write(out, &next, sizeof next) < 0) return;
            }
        });
        int64_t last = 0;
        for (int i = 0; i < 10; ++i) ASSERT_TRUE(ReadFull(fds[0], last));
        for (long spin = 0; spin < 100000000L && AnnouncedGeneration(lockFd) <= last; ++spin) continue;
        for (long spin = 0, n = (1L << (2 * round)) * 10; spin < n; ++spin) AnnouncedGeneration(lockFd);
        Kill(pid);
        for (int64_t more; ReadFull(fds[0], more);) last = more;
        close(fds[0]);

        // The state is the last reported commit or the one under way, whole.
        std::shared_ptr<Cloud> reopened;
        ASSERT_NO_THROW(reopened = Cloud::OpenFolder(folder, ""));
        int64_t generation = Generation(*reopened);
        EXPECT_TRUE(generation == last || generation == last + 1) << generation << " after " << last;
        EXPECT_EQ(Tag(*reopened, "Counter"), std::to_string(generation));
        // Opening also sweeps away what the dead writer was half-way through.
        std::vector<std::string> names;
        ASSERT_TRUE(FwFile::ListDir(folder, names));
        for (const auto& name : names)
            EXPECT_TRUE(name == "state.json" || name == "state.lock" || name == "blocks" || name == "maps") << name;
    }
    close(lockFd);
}

TEST_F(CloudTest, ConcurrentWritersInTwoProcessesLoseNoUpdate) {
    auto cloud = Cloud::OpenFolder(folder, AMAZON_DEMO_SEED);
    const int kEach = 40;
    auto increment = [&](Cloud& c) {
        c.Write([](State& s) {
            std::string& counter = s.instances.at(kWeb).tags["Counter"];
            counter = std::to_string(counter.empty() ? 1 : std::stoi(counter) + 1);
        });
    };
    int fds[2];
    // The child goes on with the object it inherited, as a forked host would.
    pid_t pid = Fork(fds, [&](int) {
        for (int i = 0; i < kEach; ++i) increment(*cloud);
    });
    for (int i = 0; i < kEach; ++i) increment(*cloud);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    close(fds[0]);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(Tag(*cloud, "Counter"), std::to_string(2 * kEach));
}

TEST_F(CloudTest, ProcessCloudComesFromSettingsOrTheInstalledOne) {
    std::string why;
    EXPECT_EQ(Cloud::ProcessCloud(&why), nullptr);
    EXPECT_NE(why.find(env.BaseDir() + "/cloudsim and no seed file"), std::string::npos) << why;

    TestEnv::SetSetting("CloudSim", "sStateFolder", folder);
    TestEnv::SetSetting("CloudSim", "sSeedFile", AMAZON_DEMO_SEED);
    auto opened = Cloud::ProcessCloud(&why);
    ASSERT_NE(opened, nullptr) << why;
    EXPECT_TRUE(opened->Folder() == folder && FwFile::Exists(folder + "/state.json"));
    EXPECT_EQ(Cloud::ProcessCloud(), opened);

    auto installed = env.InstallCloud();
    EXPECT_EQ(Cloud::ProcessCloud(), installed);
    Cloud::SetProcessCloud(nullptr);
    auto reopened = Cloud::ProcessCloud();
    EXPECT_TRUE(reopened && reopened != opened && reopened->Folder() == folder);
}
