// A full backup without change tracking through the built host program and
// plug-in, in both transport modes: the images hold exactly the instance's
// data, and nothing the job made is left in the cloud or in the cleanup
// store.
#include <fcntl.h>
#include <signal.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>

#include "cloudsim/Cloud.h"
#include "framework/FileUtils.h"
#include "integration/HostRun.h"
#include "support/TestEnv.h"

namespace {
const char kWorker[] = "i-0fedcba9876540002";          // outpost-worker, admin account, us-east-1b
const char kWorkerRoot[] = "vol-0fedcba987654b001";
constexpr int64_t kBlock = 512 * 1024;

// Offsets of the image's data regions, block by block.
std::set<int64_t> ImageBlocks(const std::string& image) {
    std::set<int64_t> blocks;
    const int fd = ::open(image.c_str(), O_RDONLY);
    const off_t size = ::lseek(fd, 0, SEEK_END);
    for (off_t at = 0; at < size;) {
        const off_t data = ::lseek(fd, at, SEEK_DATA);
        if (data < 0) break;
        const off_t hole = ::lseek(fd, data, SEEK_HOLE);
        for (off_t b = data / kBlock; b * kBlock < hole; ++b) blocks.insert(b);
        at = hole;
    }
    ::close(fd);
    return blocks;
}

std::string ReadImage(const std::string& image, int64_t offset, int64_t length) {
    std::ifstream in(image, std::ios::binary);
    in.seekg(offset);
    std::string data(static_cast<size_t>(length), '\0');
    in.read(&data[0], length);
    return data;
}

class Backup : public ::testing::TestWithParam<const char*> {};
}  // namespace

TEST_P(Backup, ImagesHoldTheInstancesDataAndNothingIsLeftBehind) {
    TestEnv env;
    const std::string out = env.BaseDir() + "/out";
    int code = -1;
    const bool direct = std::string(GetParam()) == "EBS-DIRECT-API";
    std::unique_ptr<EndpointProcess> endpoints;
    if (direct) {
        RunHost("--base " + env.BaseDir(), code);  // creates the cloud folder the endpoints serve
        TestEnv::SetSetting("Base", "nDebugLevel", "3");   // every request is logged
        endpoints = std::make_unique<EndpointProcess>(env.BaseDir());
        ASSERT_TRUE(endpoints->Ready());
    }
    const std::string output = RunBackup(env.BaseDir(), kWorker, GetParam(), out, code, " --cbt off");
    ASSERT_EQ(0, code) << output;
    if (direct) {
        // The blocks came over HTTPS from the endpoints, through connections
        // of several reader threads, and each one passed its checksum.
        const std::string served = endpoints->Stop();
        const std::string log = TestEnv::ReadFile(env.BaseDir() + "/Log/agent.log");
        EXPECT_NE(std::string::npos, served.find("served ")) << served;
        EXPECT_EQ(std::string::npos, served.find("served 0 ")) << served;
        size_t connections = 0;
        for (size_t at = log.find("Creating rest api connection."); at != std::string::npos;
             at = log.find("Creating rest api connection.", at + 1))
            ++connections;
        EXPECT_GE(connections, 2u);
        EXPECT_EQ(std::string::npos, log.find("Checksum validation failed"));
        // Signing keys stay out of the log, whatever the level.
        EXPECT_EQ(std::string::npos, log.find("demo-admin-secret"));
        EXPECT_EQ(std::string::npos, log.find("Signature="));
        EXPECT_NE(std::string::npos, log.find("Sending Request=> RequestType: [GET] Url: [https://ebs.us-east-1"));
    }

    const auto manifest = nlohmann::json::parse(TestEnv::ReadFile(out + "/point-1/manifest.json"));
    EXPECT_EQ(GetParam(), manifest["mode"].get<std::string>());
    ASSERT_EQ(1u, manifest["disks"].size());
    EXPECT_EQ(kWorkerRoot, manifest["disks"][0]["volumeId"].get<std::string>());
    const std::string image = out + "/point-1/" + manifest["disks"][0]["image"].get<std::string>();
    EXPECT_TRUE(FwFile::Exists(out + "/point-1/" + std::string(kWorker) + "_InstanceConfig.xml")) << output;

    auto cloud = cloudsim::Cloud::OpenFolder(env.BaseDir() + "/cloudsim", AMAZON_DEMO_SEED);
    const auto blocks = cloud->VolumeBlocks(kWorkerRoot);
    ASSERT_FALSE(blocks.empty());
    // Every block of the volume is in the image, and nothing else is.
    std::set<int64_t> expected(blocks.begin(), blocks.end());
    const auto stored = ImageBlocks(image);
    for (int64_t b : stored) EXPECT_TRUE(expected.count(b)) << "image holds data in block " << b;
    for (int64_t b : blocks)
        EXPECT_EQ(cloud->ReadVolume(kWorkerRoot, b * kBlock, kBlock), ReadImage(image, b * kBlock, kBlock))
            << "block " << b;

    // The AMI, its snapshots and any staged volume are gone again.
    cloud->Read([&](const cloudsim::State& s) {
        for (const auto& [id, im] : s.images)
            EXPECT_TRUE(im.sourceInstanceId != kWorker || im.state == "deregistered") << id;
        for (const auto& [id, v] : s.volumes)
            EXPECT_TRUE(v.account != "444455556666" || id == kWorkerRoot || id == "vol-0fedcba987654a001") << id;
    });
    EXPECT_EQ("", CleanStoreProblem(env.BaseDir(), "backup"));
}

INSTANTIATE_TEST_SUITE_P(TransportModes, Backup, ::testing::Values("HOTADD", "EBS-DIRECT-API"),
                         [](const auto& info) { return std::string(info.param) == "HOTADD" ? "HotAdd" : "DirectRead"; });

TEST(BackupFailure, AJobThatFailsAtStagingLeavesNothingBehind) {
    TestEnv env;
    int code = -1;
    RunHost("--base " + env.BaseDir(), code);  // creates the cloud folder
    ASSERT_EQ(0, code);
    auto cloud = cloudsim::Cloud::OpenFolder(env.BaseDir() + "/cloudsim", AMAZON_DEMO_SEED);
    cloud->AddFault(cloudsim::FaultRule("CreateVolume", 0, "InsufficientVolumeCapacity: not enough capacity"));
    const std::string output = RunHost("--base " + env.BaseDir() + " backup --job " + kDemoBackupJob + " --instance " +
                                           kWorker + " --mode HOTADD",
                                       code);
    EXPECT_EQ(1, code) << output;
    EXPECT_NE(std::string::npos, output.find("InsufficientVolumeCapacity")) << output;
    cloud->Read([&](const cloudsim::State& s) {
        for (const auto& [id, im] : s.images)
            EXPECT_TRUE(im.sourceInstanceId != kWorker || im.state == "deregistered") << id;
        for (const auto& [id, sn] : s.snapshots) EXPECT_NE("444455556666", sn.account) << id;
    });
    cloud->ClearFaults();
    EXPECT_EQ("", CleanStoreProblem(env.BaseDir(), "backup"));
}
