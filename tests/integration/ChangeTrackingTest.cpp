// A change-tracked chain through the built host program and plug-in, in both
// transport modes: a full backup, then incrementals after the guest changed
// (and zeroed) blocks. Every point rebuilds to the volume as it was, the
// incrementals read only the changed blocks, and in the end one reference
// AMI is all the jobs leave in the cloud.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>

#include "cloudsim/Cloud.h"
#include "framework/Clock.h"
#include "integration/HostRun.h"
#include "support/TestEnv.h"

namespace {
const char kWorker[] = "i-0fedcba9876540002";
const char kRoot[] = "vol-0fedcba987654b001";
constexpr int64_t kBlock = 512 * 1024;

std::string Tool(const std::string& args) {
    int code = -1;
    std::string out = RunCommand(std::string(CLOUDSIM_TOOL_PATH) + " " + args, code);
    return code == 0 ? out : "exit " + std::to_string(code) + ": " + out;
}

// The volume's blocks, by index, as the guest sees them now.
std::map<int64_t, std::string> VolumeNow(cloudsim::Cloud& cloud) {
    std::map<int64_t, std::string> blocks;
    for (int64_t b : cloud.VolumeBlocks(kRoot)) blocks[b] = cloud.ReadVolume(kRoot, b * kBlock, kBlock);
    return blocks;
}

class Chain : public ::testing::TestWithParam<const char*> {};
}  // namespace

TEST_P(Chain, IncrementalsReadOnlyChangedBlocksAndEveryPointRebuilds) {
    TestEnv env;
    const std::string base = env.BaseDir();
    const std::string out = base + "/chain";
    int code = -1;
    RunHost("--base " + base, code);
    // This process reads the cloud on the host's clock, which skips ahead.
    FwClock::Set(std::make_shared<SkipSleepClock>(base + "/clock-offset", true));
    std::unique_ptr<EndpointProcess> endpoints;
    if (std::string(GetParam()) == "EBS-DIRECT-API") {
        endpoints = std::make_unique<EndpointProcess>(base);
        ASSERT_TRUE(endpoints->Ready());
    }
    auto cloud = cloudsim::Cloud::OpenFolder(base + "/cloudsim", AMAZON_DEMO_SEED);
    auto backup = [&] {
        const std::string output = RunHost("--base " + base + " backup --job " + TEST_SOURCE_DIR +
                                               "/demo/backup-job.json --instance " + kWorker + " --mode " +
                                               GetParam() + " --out " + out,
                                           code);
        EXPECT_EQ(0, code) << output;
    };
    auto write = [&](int block, const std::string& what) {
        const std::string flag = what.empty() ? "--zero yes" : "--text '" + what + "'";
        EXPECT_EQ(std::string::npos,
                  Tool("guest-write --base " + base + " --volume " + kRoot + " --block " + std::to_string(block) +
                       " " + flag).find("exit"));
    };

    std::vector<std::map<int64_t, std::string>> truth;
    backup();
    truth.push_back(VolumeNow(*cloud));
    ASSERT_FALSE(truth.back().count(100)) << "block 100 must start unallocated";
    write(3, "changed by the guest");
    write(100, "a block the guest allocated");
    backup();
    truth.push_back(VolumeNow(*cloud));
    write(100, "");                     // the guest zeroes what it wrote
    write(4, "changed again");
    backup();
    truth.push_back(VolumeNow(*cloud));

    // What each point read: all allocated blocks, then only the changed ones.
    const std::vector<uint64_t> expectedReads{truth[0].size() * kBlock, 2 * kBlock, 2 * kBlock};
    for (int point = 1; point <= 3; ++point) {
        const auto manifest = nlohmann::json::parse(
            TestEnv::ReadFile(out + "/point-" + std::to_string(point) + "/manifest.json"));
        EXPECT_EQ(point == 1 ? 1 : 2, manifest["level"].get<int>()) << point;
        EXPECT_EQ(expectedReads[point - 1], manifest["disks"][0]["bytesRead"].get<uint64_t>()) << point;
    }
    // Every point rebuilds to the volume as it was then.
    for (int point = 1; point <= 3; ++point) {
        const std::string restored = base + "/restored-" + std::to_string(point);
        const std::string output = RunHost("--base " + base + " restore-image --chain " + out + " --point " + std::to_string(point) +
                                               " --out " + restored,
                                           code);
        ASSERT_EQ(0, code) << output;
        std::ifstream image(restored + "/" + kRoot + ".img", std::ios::binary);
        ASSERT_TRUE(image.good());
        for (int64_t b : {0, 1, 2, 3, 4, 5, 6, 7, 100}) {
            auto it = truth[point - 1].find(b);
            const std::string want = it == truth[point - 1].end() ? std::string(kBlock, '\0') : it->second;
            std::string got(kBlock, '?');
            image.seekg(b * kBlock);
            image.read(&got[0], kBlock);
            EXPECT_TRUE(got == want) << "point " << point << " block " << b;
        }
    }

    // One reference AMI (and its snapshot) is all the jobs leave behind.
    int references = 0;
    cloud->Read([&](const cloudsim::State& s) {
        for (const auto& [id, im] : s.images) {
            if (im.sourceInstanceId != kWorker || im.state == "deregistered") continue;
            ++references;
            EXPECT_EQ("KD_CBT_Snap", im.tags.count("Name") ? im.tags.at("Name") : "") << id;
        }
        // A staged volume whose deletion AWS is still finishing counts as gone.
        for (const auto& [id, v] : s.volumes)
            EXPECT_TRUE(v.account != "444455556666" || id == kRoot || id == "vol-0fedcba987654a001" ||
                        v.state == "deleting")
                << id << " " << v.state;
        for (const auto& [id, snap] : s.snapshots)
            EXPECT_TRUE(snap.volumeId != kRoot || (snap.tags.count("Name") && snap.tags.at("Name") == "KD_CBT_Snap"))
                << id;
    });
    EXPECT_EQ(1, references);
    const std::string cleanup =
        RunHost("--base " + base + " cleanup --job " + TEST_SOURCE_DIR + "/demo/backup-job.json", code);
    EXPECT_NE(std::string::npos, cleanup.find("orphaned backup entries: 0")) << cleanup;
}

INSTANTIATE_TEST_SUITE_P(TransportModes, Chain, ::testing::Values("HOTADD", "EBS-DIRECT-API"),
                         [](const auto& info) { return std::string(info.param) == "HOTADD" ? "HotAdd" : "DirectRead"; });
