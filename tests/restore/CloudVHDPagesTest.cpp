// The S3 folder of a restore's disk pages: how a page path splits, and what
// the restore's clean-up removes from the bucket and what it must leave.
#include <set>

#include "framework/KDPlatformInfo.h"
#include "restore/RestoreFixture.h"
#include "support/LogTap.h"

using namespace restore;

namespace {
const char kBucket[] = "qx-demo-source-111122223333";
const char kOtherAccountsBucket[] = "qx-demo-admin-444455556666";

struct CloudVHDPagesFixture : RestoreFixture {
    void PutObjects(const std::string& bucket, std::initializer_list<const char*> keys) {
        cloud->Write([&](cloudsim::State& s) {
            for (const char* key : keys) s.objects.push_back({bucket, key, 512, std::string(512, 'p')});
        });
    }
    std::set<std::string> Keys(const std::string& bucket) {
        return Peek([&](const cloudsim::State& s) {
            std::set<std::string> keys;
            for (const auto& o : s.objects)
                if (o.bucket == bucket) keys.insert(o.key);
            return keys;
        });
    }
    // A restore whose disks were written as pages: the first disk's path is
    // not known yet, the second names the job's folder, the third another.
    static RestoreCtx PagedJob(const std::string& path) {
        RestoreCtx ctx = Job();
        for (const std::string& page : {std::string(), path, std::string(kBucket) + "/restore-pages/job-8/disk0"}) {
            ctx.disks.push_back(Disk("disk", kGiB));
            ctx.disks.back().name = "disk" + std::to_string(ctx.disks.size() - 1);
            ctx.disks.back().newVolumeId = page;
            ctx.disks.back().diskType = 1;
        }
        return ctx;
    }
};
}  // namespace

TEST(CloudVHDPagesSplit, APathSplitsIntoBucketKeyAndParentFolderOrIsRefused) {
    const struct {
        const char* path;
        bool valid;
        const char* bucket;
        const char* key;
        const char* parent;
    } rows[] = {
        {"pages/restore-pages/job-7/disk0.vhd", true, "pages", "restore-pages/job-7/disk0.vhd", "restore-pages/job-7"},
        {"pages/job-7/disk0.vhd", true, "pages", "job-7/disk0.vhd", "job-7"},
        {"pages/job-7/", true, "pages", "job-7/", "job-7"},
        {"pages//disk0.vhd", false, "", "", ""},         // its folder would be the whole bucket
        {"", false, "", "", ""},
        {"pages", false, "", "", ""},                    // no "/"
        {"/restore-pages/job-7/disk0.vhd", false, "", "", ""},  // no bucket
        {"pages/disk0.vhd", false, "", "", ""},          // a key with no folder of its own
        {"pages/", false, "", "", ""},
    };
    for (const auto& row : rows) {
        std::string bucket = "untouched", key = "untouched", parent = "untouched";
        EXPECT_EQ(row.valid, CAmazonInfo::GetKeyFromS3Path(row.path, bucket, key, parent)) << row.path;
        EXPECT_EQ(row.valid ? row.bucket : "untouched", bucket) << row.path;
        EXPECT_EQ(row.valid ? row.key : "untouched", key) << row.path;
        EXPECT_EQ(row.valid ? row.parent : "untouched", parent) << row.path;
    }
}

// Only the first paged disk's folder goes, prefix by prefix as S3 knows
// them: a sibling whose name merely begins the same survives, and so does
// the folder a later disk names.
TEST_F(CloudVHDPagesFixture, TheCleanupOfAPagedRestoreDeletesItsFolderOnly) {
    const std::string jobFolder = "restore-pages/job-7";
    const std::set<std::string> others = {"restore-pages/job-70/disk0", "restore-pages/job-8/disk0",
                                          "restore-pages/job-7.meta"};
    const struct {
        const char* what;
        const char* setting;   // nAmazonDontDeleteCloudVHDs; null: not set
        std::string path;
        int result;
        bool deleted;
        const char* line;
    } rows[] = {
        {"no setting", nullptr, std::string(kBucket) + "/" + jobFolder + "/disk0", 1, true,
         "Successfully deleted folder [restore-pages/job-7]"},
        {"setting false", "false", std::string(kBucket) + "/" + jobFolder + "/disk0", 1, true,
         "Successfully deleted folder [restore-pages/job-7]"},
        {"setting true", "true", std::string(kBucket) + "/" + jobFolder + "/disk0", 1, false,
         "Not deleting the VHD pages as additional setting [nAmazonDontDeleteCloudVHDs] is set to [True]"},
        {"another account's bucket", nullptr, std::string(kOtherAccountsBucket) + "/" + jobFolder + "/disk0", 0,
         false, "Failed to delete folder [restore-pages/job-7]"},
        {"no S3 path", nullptr, std::string(kBucket) + "/disk0", 0, false,
         " [qx-demo-source-111122223333/disk0] not a valid S3 path."},
    };
    for (const auto& row : rows) {
        if (row.setting) {
            TestEnv::SetSetting("VirtualServer", "nAmazonDontDeleteCloudVHDs", row.setting);
        } else {
            KDPlatformInfo::removeValue("VirtualServer", "nAmazonDontDeleteCloudVHDs");
        }
        cloud->Write([](cloudsim::State& s) { s.objects.clear(); });
        PutObjects(kBucket, {"restore-pages/job-7/disk0", "restore-pages/job-7/disk1", "restore-pages/job-70/disk0",
                             "restore-pages/job-8/disk0", "restore-pages/job-7.meta"});
        PutObjects(kOtherAccountsBucket, {"restore-pages/job-7/disk0"});
        LogTap log;
        auto object = Connected();
        ASSERT_TRUE(object);
        RestoreCtx ctx = PagedJob(row.path);

        EXPECT_EQ(row.result, object->CleanupRestoreVM(ctx)) << row.what;
        EXPECT_TRUE(log.Has(row.line)) << row.what;
        const bool kept = row.setting && std::string(row.setting) == "true";
        EXPECT_EQ(!kept, log.Has("S3 disk path is empty for disk [disk0]. Skipping it.")) << row.what;
        std::set<std::string> left = others;
        if (!row.deleted) left.insert({"restore-pages/job-7/disk0", "restore-pages/job-7/disk1"});
        EXPECT_EQ(left, Keys(kBucket)) << row.what;
        EXPECT_EQ(1u, Keys(kOtherAccountsBucket).size()) << row.what;
    }
}
