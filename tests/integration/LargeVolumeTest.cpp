// A backup of a volume holding many allocated blocks, in both read modes,
// through the built host program and checked block by block by
// cloudsim-tool verify. Most blocks were written with zeros: listed and
// fetched like any other, they cost no disk as holes in the images and the
// thin device. Every thousandth block holds its own index instead, so a
// block skipped or put at the wrong offset fails the verify.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cloudsim/BlockStore.h"
#include "cloudsim/Cloud.h"
#include "integration/HostRun.h"
#include "support/TestEnv.h"

namespace {

const char kWorker[] = "i-0fedcba9876540002";      // outpost-worker, admin account, us-east-1b
const char kWorkerRoot[] = "vol-0fedcba987654b001";
constexpr int64_t kBlocks = 200000;
constexpr int64_t kStampEvery = 1000;

class LargeVolume : public ::testing::TestWithParam<const char*> {};

}  // namespace

TEST_P(LargeVolume, EveryAllocatedBlockIsBackedUpAndVerified) {
    TestEnv env;
    const std::string base = env.BaseDir();
    int code = -1;
    RunHost("--base " + base, code);   // creates the cloud folder
    ASSERT_EQ(0, code);
    {
        auto cloud = cloudsim::Cloud::OpenFolder(base + "/cloudsim", AMAZON_DEMO_SEED);
        std::vector<std::string> stamped;
        std::string block(cloudsim::kBlockSize, 's');
        for (int64_t i = 0; i < kBlocks; i += kStampEvery) {
            const std::string index = "block " + std::to_string(i) + ";";
            block.replace(0, index.size(), index);
            stamped.push_back(cloud->Blocks().Put(block.data(), block.size()));
        }
        cloud->Write([&](cloudsim::State& s) {
            cloudsim::Volume& root = s.volumes.at(kWorkerRoot);
            root.sizeBytes = std::max(root.sizeBytes, kBlocks * cloudsim::kBlockSize);
            cloudsim::BlockMap::Entries entries;
            for (int64_t i = 0; i < kBlocks; ++i)
                entries.emplace_hint(entries.end(), i,
                                     i % kStampEvery ? cloudsim::ZeroBlockId() : stamped[i / kStampEvery]);
            root.blocks = cloudsim::BlockMap(std::move(entries));
        });
    }
    std::unique_ptr<EndpointProcess> endpoints;
    if (std::string(GetParam()) == "EBS-DIRECT-API") {
        endpoints = std::make_unique<EndpointProcess>(base);
        ASSERT_TRUE(endpoints->Ready());
    }
    const std::string out = base + "/out";
    const std::string output = RunBackup(base, kWorker, GetParam(), out, code, " --cbt off");
    ASSERT_EQ(0, code) << output;
    const std::string verify = RunTool("verify --base " + base + " --manifest " + out + "/point-1/manifest.json", code);
    EXPECT_EQ(0, code) << verify;
    EXPECT_NE(std::string::npos, verify.find("verify passed")) << verify;
    EXPECT_NE(std::string::npos, verify.find(std::to_string(kBlocks) + " blocks with data")) << verify;
}

INSTANTIATE_TEST_SUITE_P(TransportModes, LargeVolume, ::testing::Values("HOTADD", "EBS-DIRECT-API"),
                         [](const auto& info) { return std::string(info.param) == "HOTADD" ? "HotAdd" : "DirectRead"; });
