// The host program end to end: a fresh base folder, the shipped demo seed,
// the plug-in loaded with dlopen.
#include <gtest/gtest.h>

#include <string>

#include "cloudsim/Cloud.h"
#include "framework/FileUtils.h"
#include "framework/VMCleaner.h"
#include "integration/HostRun.h"
#include "support/DemoAccounts.h"
#include "support/TestEnv.h"

namespace {
struct HostRun {
    int exitCode = -1;
    std::string output;
};

// A fresh base folder for the host's runs.
struct HostProgram : ::testing::Test {
    TestEnv env;
    // The host run on the test's base folder with args after it.
    HostRun Host(const std::string& args = "") {
        HostRun run;
        run.output = RunHost("--base " + env.BaseDir() + (args.empty() ? "" : " " + args), run.exitCode);
        return run;
    }
};
}  // namespace

TEST_F(HostProgram, DemoConnectsBothAccountsAndFindsTheProxy) {
    const HostRun run = Host();
    ASSERT_EQ(0, run.exitCode) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("source account: 111122223333")) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("Admin account:                  444455556666")) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("Proxy is an EC2 instance:       yes")) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("Proxy region:                   us-east-1")) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("Stream limit:                   40")) << run.output;
    // The simulated cloud was kept in the base folder for the next process.
    EXPECT_TRUE(FwFile::Exists(env.BaseDir() + "/cloudsim/state.json"));
    // The plug-in's log lines reached the agent's log.
    const std::string log = TestEnv::ReadFile(env.BaseDir() + "/Log/agent.log");
    EXPECT_NE(std::string::npos, log.find("Connection Successful to admin account [444455556666]"));
}

TEST_F(HostProgram, WrongCredentialsFailWithTheCloudsErrorText) {
    const HostRun run =
        Host(std::string("connect --url us-east-1 --access-key ") + demo::kSourceKey + " --secret-key wrong");
    EXPECT_EQ(1, run.exitCode) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("error 48")) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("SignatureDoesNotMatch")) << run.output;
}

TEST_F(HostProgram, BadCommandLinesAreRefusedWithUsage) {
    EXPECT_EQ(2, Host("connect").exitCode);
    EXPECT_EQ(2, Host("connect --access-key A --secret-key B --job-id 12x").exitCode);
    EXPECT_EQ(2, Host("frobnicate").exitCode);
    const std::string badJob = env.BaseDir() + "/job.json";
    ASSERT_TRUE(FwFile::WriteAllAtomic(badJob, "{\"accessKey\": 42}"));
    const HostRun run = Host("connect --job " + badJob);
    EXPECT_EQ(2, run.exitCode);
    EXPECT_NE(std::string::npos, run.output.find("\"accessKey\" must be a string")) << run.output;
}

TEST_F(HostProgram, BrowsePrintsTheViewsAndTheInstancesButNoTemplate) {
    const HostRun all = Host("browse");
    ASSERT_EQ(0, all.exitCode) << all.output;
    for (const char* text : {"Instance View", "Region View", "Tags View", "InstanceType View", "us-east-1a",
                             "web-server-01", "db-server-01", "analytics-01", "t3.medium"})
        EXPECT_NE(std::string::npos, all.output.find(text)) << text << "\n" << all.output;
    EXPECT_EQ(std::string::npos, all.output.find("golden-image-template")) << all.output;

    const HostRun region = Host("browse '\\Region View\\us-west-2'");
    ASSERT_EQ(0, region.exitCode) << region.output;
    EXPECT_NE(std::string::npos, region.output.find("us-west-2a")) << region.output;
    EXPECT_EQ(std::string::npos, region.output.find("us-east-1a")) << region.output;
}

TEST_F(HostProgram, VmOperationsAreDoneOrFailWithTheirError) {
    const HostRun off = Host("vm-op --op 2 --instance i-0a1b2c3d4e5f60001");
    ASSERT_EQ(0, off.exitCode) << off.output;
    EXPECT_NE(std::string::npos, off.output.find("done")) << off.output;
    auto cloud = cloudsim::Cloud::OpenFolder(env.BaseDir() + "/cloudsim", AMAZON_DEMO_SEED);
    std::string state;
    cloud->Read([&](const cloudsim::State& s) { state = s.instances.at("i-0a1b2c3d4e5f60001").state; });
    EXPECT_TRUE(state == "stopping" || state == "stopped") << state;

    const HostRun missing = Host("vm-op --op 1 --instance i-0000000000000beef");
    EXPECT_EQ(1, missing.exitCode) << missing.output;

    // Neither an operation it does not know nor a snapshot of no volume is done.
    const std::string db = " --instance i-0a1b2c3d4e5f60002";
    const HostRun unknown = Host("vm-op --op 99" + db);
    EXPECT_EQ(1, unknown.exitCode) << unknown.output;
    EXPECT_NE(std::string::npos, unknown.output.find("(error 242)")) << unknown.output;
    const HostRun noVolume = Host("vm-op --op 13" + db);
    EXPECT_EQ(1, noVolume.exitCode) << noVolume.output;
    EXPECT_NE(std::string::npos, noVolume.output.find("no volume to snapshot")) << noVolume.output;
    const HostRun stray = Host("vm-op --op 2 --volume vol-0a1b2c3d4e5f6b001" + db);
    EXPECT_EQ(2, stray.exitCode) << stray.output;

    const HostRun snapshot = Host("vm-op --op 13 --volume vol-0a1b2c3d4e5f6b001" + db);
    ASSERT_EQ(0, snapshot.exitCode) << snapshot.output;
    const size_t at = snapshot.output.find("result: snap-");
    ASSERT_NE(std::string::npos, at) << snapshot.output;
    const std::string id = snapshot.output.substr(at + 8, snapshot.output.find('\n', at) - at - 8);
    std::string volume;
    cloud = cloudsim::Cloud::OpenFolder(env.BaseDir() + "/cloudsim", AMAZON_DEMO_SEED);
    cloud->Read([&](const cloudsim::State& s) {
        if (s.snapshots.count(id)) volume = s.snapshots.at(id).volumeId;
    });
    EXPECT_EQ("vol-0a1b2c3d4e5f6b001", volume) << id;
}

TEST_F(HostProgram, CleanupRemovesWhatAKilledJobLeftRegistered) {
    ASSERT_EQ(0, Host().exitCode);   // creates the cloud folder
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A job that staged a volume for the proxy and died.
        auto cloud = cloudsim::Cloud::OpenFolder(env.BaseDir() + "/cloudsim", AMAZON_DEMO_SEED);
        cloud->Write([](cloudsim::State& s) {
            cloudsim::Volume v;
            v.id = "vol-0000000000000f00d";
            v.account = "444455556666";
            v.region = "us-east-1";
            v.zone = "us-east-1a";
            v.sizeBytes = 1LL << 30;
            s.volumes[v.id] = v;
        });
        VMCleaner store;
        std::string root;
        if (!store.Init("i-0fedcba9876540001", 0) || !store.RegisterEntity(0, "", 1, "i-0a1b2c3d4e5f60001", &root) ||
            !store.RegisterEntity(0, root, 3, "vol-0000000000000f00d", nullptr))
            _exit(3);
        raise(SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFSIGNALED(status));

    const HostRun run = Host("cleanup");
    ASSERT_EQ(0, run.exitCode) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("orphaned backup entries: 1")) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("removed volume vol-0000000000000f00d")) << run.output;
    EXPECT_EQ(std::string::npos, run.output.find("left")) << run.output;
    const HostRun again = Host("cleanup");
    EXPECT_NE(std::string::npos, again.output.find("orphaned backup entries: 0")) << again.output;
}
