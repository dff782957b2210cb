// A change-tracked chain through the built host program and plug-in, in both
// transport modes: a full backup, then incrementals after the guest changed
// (and zeroed) blocks. Every point rebuilds to the volume as it was, the
// incrementals read only the changed blocks, and in the end one reference
// AMI is all the jobs leave in the cloud. The chain's files are refused when
// damaged or of an unknown version, and one chain folder takes one backup
// at a time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/falloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <vector>

#include "cloudsim/Cloud.h"
#include "framework/Clock.h"
#include "framework/FileUtils.h"
#include "integration/HostRun.h"
#include "support/TestEnv.h"

namespace {
const char kWorker[] = "i-0fedcba9876540002";
const char kRoot[] = "vol-0fedcba987654b001";
constexpr int64_t kBlock = 512 * 1024;

std::string Backup(const std::string& base, const std::string& out, const std::string& mode, int& code) {
    return RunBackup(base, kWorker, mode, out, code);
}

std::string Tool(const std::string& args) {
    int code = -1;
    std::string out = RunTool(args, code);
    return code == 0 ? out : "exit " + std::to_string(code) + ": " + out;
}

// The guest writes text into the root volume's block (zeroes it when text is
// empty); what the tool said when it could not.
std::string GuestWrite(const std::string& base, int block, const std::string& text) {
    const std::string what = text.empty() ? "--zero yes" : "--text '" + text + "'";
    const std::string out =
        Tool("guest-write --base " + base + " --volume " + kRoot + " --block " + std::to_string(block) + " " + what);
    return out.rfind("exit ", 0) == 0 ? out : std::string();
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
        const std::string output = Backup(base, out, GetParam(), code);
        EXPECT_EQ(0, code) << output;
    };
    auto write = [&](int block, const std::string& what) { EXPECT_EQ("", GuestWrite(base, block, what)); };

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
    EXPECT_EQ("", CleanStoreProblem(base, "backup"));
}

INSTANTIATE_TEST_SUITE_P(TransportModes, Chain, ::testing::Values("HOTADD", "EBS-DIRECT-API"),
                         [](const auto& info) { return std::string(info.param) == "HOTADD" ? "HotAdd" : "DirectRead"; });

namespace {
std::string ChainFile(const std::string& chain) { return chain + "/chain.json"; }

void EditJson(const std::string& path, const std::function<void(nlohmann::json&)>& edit) {
    auto doc = nlohmann::json::parse(TestEnv::ReadFile(path));
    edit(doc);
    std::ofstream(path, std::ios::trunc) << doc.dump(2);
}

// Overwrites one byte of a file in place, keeping its holes elsewhere.
void PokeByte(const std::string& path, int64_t offset, char value) {
    const int fd = ::open(path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0) << path;
    char was = 0;
    ASSERT_GE(::pread(fd, &was, 1, offset), 0);
    if (value == was) value = static_cast<char>(~was);
    EXPECT_EQ(1, ::pwrite(fd, &value, 1, offset));
    ::close(fd);
}

std::map<int64_t, std::string> BlockSums(const std::string& manifest) {
    std::map<int64_t, std::string> out;
    const auto doc = nlohmann::json::parse(TestEnv::ReadFile(manifest));
    for (const auto& [block, sum] : doc["disks"][0]["blockSha256"].items()) out[std::stoll(block)] = sum;
    return out;
}
}  // namespace

TEST(ChainFiles, DamagedOrUnknownFilesAreRefusedAndNothingIsRestored) {
    TestEnv env;
    const std::string base = env.BaseDir();
    const std::string golden = base + "/golden";
    int code = -1;
    RunHost("--base " + base, code);
    ASSERT_EQ(0, code);
    std::string output = Backup(base, golden, "HOTADD", code);
    ASSERT_EQ(0, code) << output;
    EXPECT_EQ("", GuestWrite(base, 3, "changed"));
    output = Backup(base, golden, "HOTADD", code);
    ASSERT_EQ(0, code) << output;
    const auto chainDoc = nlohmann::json::parse(TestEnv::ReadFile(ChainFile(golden)));
    EXPECT_EQ("BackupChain", chainDoc.value("format", ""));
    EXPECT_EQ(1, chainDoc.value("version", 0));

    const std::string image = std::string("/") + kRoot + ".img";
    const auto full = BlockSums(golden + "/point-1/manifest.json");
    const auto incremental = BlockSums(golden + "/point-2/manifest.json");
    ASSERT_FALSE(full.empty());
    ASSERT_EQ(1u, incremental.count(3)) << "the incremental holds the changed block";
    const int64_t data = full.begin()->first;
    int64_t hole = 0;
    while (full.count(hole)) ++hole;
    auto damaged = [&](int point, int64_t block) {
        return "disk " + std::string(kRoot) + ": block " + std::to_string(block) + " of point " +
               std::to_string(point) + " does not match its checksum";
    };
    const struct {
        const char* what;
        std::function<void(const std::string& chain)> damage;
        std::string refusal;
        const char* out = ".restored";   // appended to the chain folder: the --out folder
    } cases[] = {
        {"a flipped byte in a full point's block",
         [&](const std::string& c) { PokeByte(c + "/point-1" + image, data * kBlock + 1000, 0); }, damaged(1, data)},
        {"data where the full point holds zeros",
         [&](const std::string& c) { PokeByte(c + "/point-1" + image, hole * kBlock + 7, 'x'); }, damaged(1, hole)},
        {"a block of the full point gone to a hole",
         [&](const std::string& c) {
             const int fd = ::open((c + "/point-1" + image).c_str(), O_RDWR);
             EXPECT_EQ(0, ::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, data * kBlock, kBlock));
             ::close(fd);
         },
         damaged(1, data)},
        {"a flipped byte in an incremental's block",
         [&](const std::string& c) { PokeByte(c + "/point-2" + image, 3 * kBlock, 'Y'); }, damaged(2, 3)},
        {"a chain file of a later version",
         [&](const std::string& c) { EditJson(ChainFile(c), [](nlohmann::json& j) { j["version"] = 2; }); },
         "chain.json is BackupChain version 2; this host reads version 1 only"},
        {"a chain file of no known format",
         [&](const std::string& c) {
             EditJson(ChainFile(c), [](nlohmann::json& j) { j.erase("format"); j.erase("version"); });
         },
         "chain.json carries no format and version"},
        {"a point manifest of a later version",
         [&](const std::string& c) {
             EditJson(c + "/point-2/manifest.json", [](nlohmann::json& j) { j["version"] = 7; });
         },
         "manifest.json is BackupPoint version 7; this host reads version 1 only"},
        {"a volume id that names the point's own image",
         [&](const std::string& c) {
             EditJson(c + "/point-1/manifest.json", [&](nlohmann::json& j) {
                 j["disks"][0]["volumeId"] = "../" + c.substr(c.rfind('/') + 1) + "/point-1/" + kRoot;
             });
         },
         "is not an EBS volume id"},
        {"a point folder outside the chain",
         [&](const std::string& c) {
             EditJson(ChainFile(c), [](nlohmann::json& j) { j["points"][1]["folder"] = "../golden/point-2"; });
         },
         "where point 2 in folder \"point-2\" was expected"},
        {"an out folder inside the chain", [](const std::string&) {}, "is inside the chain folder", "/point-2/rebuilt"},
    };
    int n = 0;
    for (const auto& test : cases) {
        const std::string chain = base + "/case-" + std::to_string(++n);
        RunCommand("cp -a " + golden + " " + chain, code);
        ASSERT_EQ(0, code);
        test.damage(chain);
        const std::string restored = chain + test.out;
        output = RunHost("--base " + base + " restore-image --chain " + chain + " --out " + restored, code);
        EXPECT_EQ(1, code) << test.what << "\n" << output;
        EXPECT_NE(std::string::npos, output.find(test.refusal)) << test.what << "\n" << output;
        EXPECT_FALSE(FwFile::Exists(restored + image)) << test.what;
        EXPECT_FALSE(FwFile::Exists(restored + "/manifest.json")) << test.what;
        // A refused rebuild leaves the backups where they were.
        EXPECT_TRUE(FwFile::Exists(chain + "/point-1" + image)) << test.what;
    }
    // A backup does not add to a chain it cannot read either.
    output = Backup(base, base + "/case-5", "HOTADD", code);
    EXPECT_EQ(1, code) << output;
    EXPECT_NE(std::string::npos, output.find("BackupChain version 2")) << output;
}

// One chain folder of a fresh cloud, which this process reads on the
// host's clock.
class ChainFolder : public ::testing::Test {
protected:
    void SetUp() override {
        RunHost("--base " + base, code);
        ASSERT_EQ(0, code);
        FwClock::Set(std::make_shared<SkipSleepClock>(base + "/clock-offset", true));
        cloud = cloudsim::Cloud::OpenFolder(base + "/cloudsim", AMAZON_DEMO_SEED);
    }
    size_t Points() const { return nlohmann::json::parse(TestEnv::ReadFile(ChainFile(chain)))["points"].size(); }
    // The chain's last point rebuilds to the volume as it is now.
    std::string RestoreAndVerify() {
        const std::string restored = base + "/restored";
        const std::string output =
            RunHost("--base " + base + " restore-image --chain " + chain + " --out " + restored, code);
        return code != 0 ? output : Tool("verify --base " + base + " --manifest " + restored + "/manifest.json");
    }

    TestEnv env;
    const std::string base = env.BaseDir();
    const std::string chain = base + "/chain";
    std::shared_ptr<cloudsim::Cloud> cloud;
    int code = -1;
};

TEST_F(ChainFolder, AKilledBackupLeavesNoPointAndTheNextBackupTakesItsPlace) {
    std::string output = Backup(base, chain, "HOTADD", code);
    ASSERT_EQ(0, code) << output;
    EXPECT_EQ("", GuestWrite(base, 3, "changed"));
    // Killed once its disk is read, as the staged volume is detached.
    cloud->AddFault(cloudsim::FaultRule("DetachVolume", 1, "", 0, "kill"));
    output = Backup(base, chain, "HOTADD", code);
    ASSERT_EQ(137, code) << output;
    cloud->ClearFaults();
    EXPECT_FALSE(FwFile::Exists(chain + "/point-2")) << "a half-written point passes for a point";
    EXPECT_EQ(1u, Points());

    output = Backup(base, chain, "HOTADD", code);
    ASSERT_EQ(0, code) << output;
    EXPECT_EQ(2u, Points());
    std::vector<std::string> names;
    ASSERT_TRUE(FwFile::ListDir(chain, names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{"chain.json", "chain.lock", "point-1", "point-2"}), names);
    output = RestoreAndVerify();
    EXPECT_NE(std::string::npos, output.find("verify passed")) << output;
}

TEST_F(ChainFolder, ASecondBackupIntoTheFolderIsRefusedWhileTheFirstRuns) {
    const std::string args = " --base " + base + " backup --job " + TEST_SOURCE_DIR +
                             "/demo/backup-job.json --instance " + kWorker + " --mode HOTADD --out " + chain;
    FILE* first = popen((std::string(AMAZON_HOST_PATH) + args + " 2>&1").c_str(), "r");
    ASSERT_NE(nullptr, first);
    std::string firstOutput;
    char line[1024];
    while (firstOutput.find("mounted") == std::string::npos && std::fgets(line, sizeof line, first))
        firstOutput += line;
    const bool mounted = firstOutput.find("mounted") != std::string::npos;
    // The first job has mounted and now waits for the cloud, which this
    // process holds while the second job starts on the same folder. (A
    // second job that went on would wait for the cloud too: the time-out
    // ends it.)
    std::string second;
    int secondCode = -1;
    if (mounted)
        cloud->Write([&](cloudsim::State&) {
            second = RunCommand("timeout 60 " + std::string(AMAZON_HOST_PATH) + args, secondCode);
        });
    while (std::fgets(line, sizeof line, first)) firstOutput += line;
    const int status = pclose(first);
    ASSERT_TRUE(mounted) << firstOutput;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << firstOutput;
    EXPECT_EQ(1, secondCode) << second;
    EXPECT_NE(std::string::npos, second.find("error: the chain folder " + chain + " is in use by another backup (process "))
        << second;
    // The chain holds the first job's point, whole.
    EXPECT_EQ(1u, Points());
    const std::string output = RestoreAndVerify();
    EXPECT_NE(std::string::npos, output.find("verify passed")) << output;
}
