// Eight backup processes of eight instances at once on one base folder and
// one folder cloud: every one finishes, its images verify against the
// instance, and nothing any of them made is left.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <thread>
#include <vector>

#include "framework/FileUtils.h"
#include "integration/HostRun.h"
#include "support/TestEnv.h"

namespace {
constexpr int kJobs = 8;

std::string Worker(int n) { return "i-0fedcba98765410" + std::string(n < 10 ? "0" : "") + std::to_string(n); }

// The demo seed with kJobs more admin-account instances shaped as the
// outpost worker, each with a root volume of its own data.
std::string WriteSeed(const std::string& folder) {
    auto seed = nlohmann::json::parse(TestEnv::ReadFile(AMAZON_DEMO_SEED));
    nlohmann::json worker, root;
    for (const auto& i : seed["instances"]) if (i["id"] == "i-0fedcba9876540002") worker = i;
    for (const auto& v : seed["volumes"]) if (v["id"] == "vol-0fedcba987654b001") root = v;
    for (int n = 1; n <= kJobs; ++n) {
        const std::string suffix = std::string(n < 10 ? "0" : "") + std::to_string(n);
        nlohmann::json i = worker, v = root;
        i["id"] = Worker(n);
        v["id"] = "vol-0fedcba987654c0" + suffix;
        i["volumeIds"] = {v["id"]};
        i["tags"] = {{"Name", "worker-" + suffix}};
        i["biosUuid"] = "ec2a6c1b-2d3e-4f5a-8b56-a7b8c9d100" + suffix;
        i["networkInterfaces"][0]["id"] = "eni-0fedcba98765720" + suffix;
        i["networkInterfaces"][0]["privateIp"] = "172.31.1." + std::to_string(20 + n);
        i["networkInterfaces"][0]["macAddress"] = "0e:fe:dc:ba:99:" + suffix;
        v["data"]["text"] = "worker " + suffix + " root";
        seed["instances"].push_back(i);
        seed["volumes"].push_back(v);
    }
    const std::string path = folder + "/seed.json";
    EXPECT_TRUE(FwFile::WriteAllAtomic(path, seed.dump()));
    return path;
}
}  // namespace

TEST(ConcurrentBackups, EightProcessesOfEightInstancesFinishVerifyAndLeaveNothing) {
    TestEnv env;
    const std::string base = env.BaseDir();
    const std::string seed = WriteSeed(base);
    int code = -1;
    RunHost("--base " + base + " --seed " + seed, code);
    ASSERT_EQ(0, code);
    std::vector<std::string> outputs(kJobs);
    std::vector<int> codes(kJobs, -1);
    std::vector<std::thread> jobs;
    for (int n = 1; n <= kJobs; ++n)
        jobs.emplace_back([&, n] {
            outputs[n - 1] =
                RunBackup(base, Worker(n), "HOTADD", base + "/out" + std::to_string(n), codes[n - 1], " --cbt off");
        });
    for (auto& job : jobs) job.join();
    for (int n = 1; n <= kJobs; ++n) {
        ASSERT_EQ(0, codes[n - 1]) << Worker(n) << ": " << outputs[n - 1];
        const std::string out = base + "/out" + std::to_string(n);
        const std::string images = base + "/images" + std::to_string(n);
        RunHost("--base " + base + " restore-image --chain " + out + " --out " + images, code);
        ASSERT_EQ(0, code) << Worker(n);
        const std::string verified = RunTool("verify --base " + base + " --manifest " + images + "/manifest.json", code);
        EXPECT_NE(std::string::npos, verified.find("verify passed")) << Worker(n) << ": " << verified;
    }
    EXPECT_EQ("", CleanStoreProblem(base, "backup"));
    const auto state = nlohmann::json::parse(TestEnv::ReadFile(base + "/cloudsim/state.json"));
    for (const auto& image : state["images"])
        EXPECT_TRUE(image["state"] == "deregistered" ||
                    image.value("sourceInstanceId", "").rfind("i-0fedcba98765410", 0) != 0)
            << image["id"];
    for (const auto& volume : state["volumes"])
        EXPECT_TRUE(volume["account"] != "444455556666" || volume["id"].get<std::string>().rfind("vol-0fedcba987654", 0) == 0 ||
                    volume["state"] == "deleting")
            << volume["id"];
}

// Two chains of one instance (two subclients, as the framework keeps two
// chains) backed up at the same time, round after round: neither job's
// clean-up takes the other's reference AMI, even while the other chain is
// between jobs, so every
// incremental reads only what changed (nothing here), and no stale entry on
// the instance's AMI list turns a later round away.
TEST(ConcurrentBackups, TwoChainsOfOneInstanceKeepEachOthersReference) {
    TestEnv env;
    const std::string base = env.BaseDir();
    int code = -1;
    RunHost("--base " + base, code);
    ASSERT_EQ(0, code);
    for (int round = 1; round <= 3; ++round) {
        std::string outputs[2];
        int codes[2] = {-1, -1};
        std::vector<std::thread> jobs;
        for (int chain = 0; chain < 2; ++chain)
            jobs.emplace_back([&, chain] {
                outputs[chain] = RunBackup(base, "i-0fedcba9876540002", "HOTADD", base + "/chain" + std::to_string(chain),
                                           codes[chain], " --subclient " + std::to_string(chain + 1));
            });
        for (auto& job : jobs) job.join();
        for (int chain = 0; chain < 2; ++chain) {
            ASSERT_EQ(0, codes[chain]) << "round " << round << ": " << outputs[chain];
            if (round > 1) {
                EXPECT_NE(std::string::npos, outputs[chain].find("incremental, 1 disks, 0.0 MiB read (0 blocks)"))
                    << "round " << round << ": " << outputs[chain];
            }
        }
    }
}
