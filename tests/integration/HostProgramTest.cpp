// The host program end to end: a fresh base folder, the shipped demo seed,
// the plug-in loaded with dlopen.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

#include "framework/FileUtils.h"
#include "support/TestEnv.h"

namespace {
struct HostRun {
    int exitCode = -1;
    std::string output;
};

HostRun RunHost(const std::string& args) {
    HostRun run;
    const std::string cmd = std::string(AMAZON_HOST_PATH) + " " + args + " 2>&1";
    FILE* pipe = popen(cmd.c_str(), "r");
    if (!pipe) return run;
    std::array<char, 4096> buf{};
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0) run.output.append(buf.data(), n);
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}
}  // namespace

TEST(HostProgram, DemoConnectsBothAccountsAndFindsTheProxy) {
    TestEnv env;
    const HostRun run = RunHost("--base " + env.BaseDir());
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

TEST(HostProgram, WrongCredentialsFailWithTheCloudsErrorText) {
    TestEnv env;
    const HostRun run = RunHost("--base " + env.BaseDir() +
                            " connect --url us-east-1 --access-key AKIADEMOSOURCE000001 --secret-key wrong");
    EXPECT_EQ(1, run.exitCode) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("error 48")) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("SignatureDoesNotMatch")) << run.output;
}

TEST(HostProgram, BadCommandLinesAreRefusedWithUsage) {
    TestEnv env;
    EXPECT_EQ(2, RunHost("--base " + env.BaseDir() + " connect").exitCode);
    EXPECT_EQ(2, RunHost("--base " + env.BaseDir() + " connect --access-key A --secret-key B --job-id 12x").exitCode);
    EXPECT_EQ(2, RunHost("--base " + env.BaseDir() + " frobnicate").exitCode);
    const std::string badJob = env.BaseDir() + "/job.json";
    ASSERT_TRUE(FwFile::WriteAllAtomic(badJob, "{\"accessKey\": 42}"));
    const HostRun run = RunHost("--base " + env.BaseDir() + " connect --job " + badJob);
    EXPECT_EQ(2, run.exitCode);
    EXPECT_NE(std::string::npos, run.output.find("\"accessKey\" must be a string")) << run.output;
}
