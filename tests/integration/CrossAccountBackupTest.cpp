// Backups of source-account instances through the host program, the proxy
// living in the admin account: by hot-add the snapshots reach the proxy's
// account shared or copied, the images hold exactly the instance's data, and
// nothing shared, copied or staged is left once the job is over.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "cloudsim/Cloud.h"
#include "cloudsim/CloudState.h"
#include "cloudsim/Kms.h"
#include "integration/HostRun.h"
#include "support/TestEnv.h"

namespace {

const char kAdmin[] = "444455556666";
const char kSource[] = "111122223333";

// The chain's last point rebuilds to the instance's volumes as they are.
std::string Verify(const std::string& base, const std::string& chain, int& code) {
    RunHost("--base " + base + " restore-image --chain " + chain + " --out " + chain + ".restored", code);
    if (code != 0) return "restore-image failed";
    return RunCommand(std::string(CLOUDSIM_TOOL_PATH) + " verify --base " + base + " --manifest " + chain +
                          ".restored/manifest.json",
                      code);
}

struct Left {
    size_t shared = 0, copies = 0, staged = 0, images = 0;
};

Left Leftovers(cloudsim::Cloud& cloud, const std::string& instance) {
    Left left;
    cloud.Read([&](const cloudsim::State& s) {
        for (const auto& [id, snap] : s.snapshots) {
            left.shared += cloudsim::SharedWith(snap, kAdmin);
            left.copies += snap.volumeId == "vol-ffffffff";
        }
        for (const auto& [id, v] : s.volumes)
            left.staged += v.account == kAdmin && v.state != "deleting" && v.tags.count("_QX_BACKUP_");
        for (const auto& [id, im] : s.images)
            left.images += im.sourceInstanceId == instance && im.state != "deregistered" &&
                           (!im.tags.count("Name") || im.tags.at("Name") != "KD_CBT_Snap");
    });
    return left;
}

struct CrossAccountBackup : ::testing::TestWithParam<const char*> {
    TestEnv env;
    std::shared_ptr<cloudsim::Cloud> cloud;

    void SetUp() override {
        int code = -1;
        RunHost("--base " + env.BaseDir(), code);   // creates the folder cloud
        ASSERT_EQ(0, code);
        cloud = cloudsim::Cloud::OpenFolder(env.BaseDir() + "/cloudsim", AMAZON_DEMO_SEED);
    }

    // cbt: the data mover asks for the allocated blocks, which must come
    // from the instance's own region even when the proxy is elsewhere.
    void BackUpAndVerify(const std::string& instance, bool cbt = false) {
        const std::string chain = env.BaseDir() + "/chain-" + instance;
        int code = -1;
        std::unique_ptr<EndpointProcess> endpoints;
        if (std::string(GetParam()) == "EBS-DIRECT-API") {
            endpoints = std::make_unique<EndpointProcess>(env.BaseDir());
            ASSERT_TRUE(endpoints->Ready());
        }
        const std::string out = RunHost("--base " + env.BaseDir() + " backup --job " + TEST_SOURCE_DIR +
                                            "/demo/job.json --instance " + instance + " --mode " + GetParam() +
                                            " --out " + chain + (cbt ? "" : " --cbt off"),
                                        code);
        ASSERT_EQ(0, code) << out;
        EXPECT_EQ(std::string::npos, out.find("no block list")) << out;
        const std::string verified = Verify(env.BaseDir(), chain, code);
        EXPECT_EQ(0, code) << verified;
        EXPECT_NE(std::string::npos, verified.find("verify passed")) << verified;
        const Left left = Leftovers(*cloud, instance);
        EXPECT_EQ(0u, left.shared);
        EXPECT_EQ(0u, left.copies);
        EXPECT_EQ(0u, left.staged);
        EXPECT_EQ(0u, left.images);
        const std::string store =
            RunHost("--base " + env.BaseDir() + " cleanup --job " + TEST_SOURCE_DIR + "/demo/job.json", code);
        EXPECT_NE(std::string::npos, store.find("orphaned backup entries: 0")) << store;
    }
};

}  // namespace

TEST_P(CrossAccountBackup, AnotherRegionsTwoDiskInstanceVerifiesBlockForBlock) {
    BackUpAndVerify("i-0a1b2c3d4e5f60004", true);
}

// Direct read of these volumes is the plain source-account read the other
// tests cover; only hot-add has keys and copies to get right.
struct CrossAccountHotaddBackup : CrossAccountBackup {};

TEST_P(CrossAccountHotaddBackup, DefaultAndCustomKeyVolumesVerifyAndTheKeysAreGrantedOnce) {
    // db-server-01's log volume on the default EBS key; its data volume on a
    // customer key whose policy does not name the admin account.
    cloud->Write([](cloudsim::State& s) {
        for (auto& k : s.kmsKeys) k.allowedAccounts.clear();
        auto& logs = s.volumes.at("vol-0a1b2c3d4e5f6b003");
        logs.encrypted = true;
        logs.kmsKeyId = cloudsim::DefaultKmsKey(s, kSource, "us-east-1");
    });
    BackUpAndVerify("i-0a1b2c3d4e5f60002");
    BackUpAndVerify("i-0a1b2c3d4e5f60002");
    cloud->Read([&](const cloudsim::State& s) {
        size_t granted = 0;
        for (const auto& k : s.kmsKeys) {
            EXPECT_LE(k.grantees.size(), 1u) << k.arn;
            granted += !k.grantees.empty();
        }
        // The customer key and the copies' custom key.
        EXPECT_EQ(2u, granted);
    });
}

INSTANTIATE_TEST_SUITE_P(TransportModes, CrossAccountBackup, ::testing::Values("HOTADD", "EBS-DIRECT-API"),
                         [](const auto& info) { return std::string(info.param) == "HOTADD" ? "HotAdd" : "DirectRead"; });
INSTANTIATE_TEST_SUITE_P(TransportModes, CrossAccountHotaddBackup, ::testing::Values("HOTADD"),
                         [](const auto&) { return std::string("HotAdd"); });

// A snap backup of the source account's instance for the admin account's
// proxy: its default-key volume's snapshot is kept only as a copy under the
// custom key granted to the admin account, which a backup copy can share.
TEST(CrossAccountSnapBackup, ADefaultKeyVolumesSnapshotIsKeptAsACopyTheAdminAccountCanUse) {
    TestEnv env;
    int code = -1;
    RunHost("--base " + env.BaseDir(), code);
    ASSERT_EQ(0, code);
    auto cloud = cloudsim::Cloud::OpenFolder(env.BaseDir() + "/cloudsim", AMAZON_DEMO_SEED);
    const std::string root = "vol-0a1b2c3d4e5f6d001";
    cloud->Write([&](cloudsim::State& s) {
        s.volumes.at(root).encrypted = true;
        s.volumes.at(root).kmsKeyId = cloudsim::DefaultKmsKey(s, kSource, "us-west-2");
    });
    const std::string out = RunHost("--base " + env.BaseDir() + " snap-backup --job " + kDemoJob +
                                        " --instance i-0a1b2c3d4e5f60004 --job-id 31",
                                    code);
    ASSERT_EQ(0, code) << out;
    EXPECT_NE(std::string::npos, out.find("snap backup of job 31 (job-level) done")) << out;
    const std::string listing = RunHost("--base " + env.BaseDir() + " snap-list", code);
    ASSERT_EQ(0, code) << listing;
    cloud->Read([&](const cloudsim::State& s) {
        const cloudsim::KmsKey* custom = nullptr;
        for (const auto& k : s.kmsKeys)
            if (k.alias == "alias/keld-ec2" && k.region == "us-west-2") custom = &k;
        ASSERT_NE(nullptr, custom);
        EXPECT_EQ(std::vector<std::string>{"arn:aws:iam::444455556666:root"}, custom->grantees);
        size_t listed = 0, rootCopies = 0;
        for (const auto& [id, snap] : s.snapshots) {
            if (snap.region != "us-west-2" || snap.account != kSource) continue;
            EXPECT_NE(root, snap.volumeId) << id << ": the default-key original is left";
            if (listing.find("snapshot " + id + " of ") == std::string::npos) continue;
            ++listed;
            if (listing.find(id + " of " + root) == std::string::npos) continue;
            ++rootCopies;
            EXPECT_EQ(custom->arn, snap.kmsKeyId) << id;
        }
        EXPECT_EQ(2u, listed) << listing;
        EXPECT_EQ(1u, rootCopies) << listing;
    });
}
