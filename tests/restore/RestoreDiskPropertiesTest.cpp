// What a restore disk becomes before its volume is made: zone, size, type,
// IOPS and KMS key, with a warning wherever the user's choice was dropped.
#include "restore/RestoreFixture.h"

using namespace restore;

namespace {
// The destination's answers about KMS keys, and how often it was asked.
struct KeyBridge : CAmazonSDKBridge {
    static inline int asked = 0;
    static inline bool answers = true;
    static inline bool notFound = false;
    static inline std::string state;
    bool DescribeEncryptionKey(const std::string&, const std::string&, std::string& arn, bool& missing,
                               std::string& keyState, std::string*) override {
        ++asked;
        arn = "arn:aws:kms:us-east-1:111122223333:key/k1";
        missing = notFound;
        keyState = state;
        return answers;
    }
};

bool HasReason(const std::vector<SFailure>& failures, const std::string& text) {
    for (const auto& f : failures)
        if (f.reason == text) return true;
    return false;
}
}  // namespace

TEST_F(RestoreFixture, SizesTypesAndIopsBecomeWhatEBSCanMake) {
    const std::string st1Warning =
        "Volume type [st1] could not be used for volume [logs]. Volume has been restored using volume type [gp2].";
    const struct {
        bool conversion;
        long long size;
        const char* type;
        int iops;
        long long size2;
        const char* type2;
        int iops2;
        std::string warning;
    } rows[] = {
        {true, 10 * kGiB + 1, "gp3", 0, 11 * kGiB, "gp3", 0, ""},
        {true, 10 * kGiB, "gp3", 0, 10 * kGiB, "gp3", 0, ""},
        {false, 10 * kGiB + 1, "gp3", 0, 10 * kGiB + 1, "gp3", 0, ""},
        {false, 100 * kGiB, "io1", 0, 100 * kGiB, "io1", 5000, ""},
        {false, 2000 * kGiB, "io1", 0, 2000 * kGiB, "io1", 64000, ""},
        {false, 100 * kGiB, "io2", 0, 100 * kGiB, "io2", 50000, ""},
        {false, 128 * kGiB, "io2", 0, 128 * kGiB, "io2", 64000, ""},
        {false, 100 * kGiB, "io1", 3000, 100 * kGiB, "io1", 3000, ""},
        {false, 100 * kGiB, "st1", 0, 100 * kGiB, "gp2", 0, st1Warning},
        {false, 500 * kGiB, "st1", 0, 500 * kGiB, "st1", 0, ""},
        {false, 8 * kGiB, "gp7", 0, 8 * kGiB, "gp2", 0,
         "Volume type [gp7] could not be used for volume [logs]. Volume has been restored using volume type [gp2]."},
        {false, 8 * kGiB, "", 0, 8 * kGiB, "gp2", 0, ""},
    };
    for (const auto& row : rows) {
        auto object = Connected();
        ASSERT_TRUE(object);
        RestoreCtx ctx = Job();
        ctx.conversion = row.conversion;
        ctx.disks = {Disk("logs", row.size, row.type, row.iops)};
        object->AdjustDiskPropertiesForStreamingRestore(ctx);
        const auto& disk = ctx.disks[0];
        const std::string what = std::string(row.type) + " of " + std::to_string(row.size);
        EXPECT_EQ(row.size2, disk.size) << what;
        EXPECT_EQ(row.type2, disk.volumeType) << what;
        EXPECT_EQ(row.iops2, disk.iops) << what;
        EXPECT_EQ(row.warning.empty() ? 0u : 1u, ctx.failures.size()) << what;
        if (!row.warning.empty()) {
            EXPECT_TRUE(HasReason(ctx.failures, row.warning)) << what;
            EXPECT_TRUE(HasReason(object->GetFailures(), row.warning)) << what;
        }
    }
}

// The volumes are made next to the proxy and moved later, so a disk goes to
// the proxy's zone; where cross-zone restores are off, or the proxy is not
// known, it stays where the job put it.
TEST_F(RestoreFixture, DisksArePlacedNextToTheProxyOnlyWhenItIsKnown) {
    const struct {
        const char* crossZone;
        bool proxyKnown;
        const char* zone;
        const char* expected;
    } rows[] = {
        {"true", true, "", "us-east-1a"},         {"true", true, "us-east-1c", "us-east-1a"},
        {"false", true, "", "us-east-1b"},        {"false", true, "us-east-1c", "us-east-1c"},
        {"true", false, "", "us-east-1b"},        {"true", false, "us-east-1c", "us-east-1c"},
    };
    for (const auto& row : rows) {
        TestEnv::SetSetting("VirtualServer", "bAllowCrossZoneRestore", row.crossZone);
        auto object = Connected();
        ASSERT_TRUE(object);
        if (row.proxyKnown) {
            ASSERT_TRUE(object->_InitProxyInfoForRestore());
        }
        RestoreCtx ctx = Job("us-east-1b");
        ctx.disks = {Disk("data", 8 * kGiB), Disk("skipped", 8 * kGiB)};
        ctx.disks[0].zone = row.zone;
        ctx.disks[1].selected = false;
        object->AdjustDiskPropertiesForStreamingRestore(ctx);
        EXPECT_EQ(row.expected, ctx.disks[0].zone) << row.crossZone << " " << row.proxyKnown << " " << row.zone;
        EXPECT_EQ("", ctx.disks[1].zone);
    }
}

TEST_F(RestoreFixture, AKmsKeyTheDestinationCannotUseGivesWayToTheDefaultKey) {
    const struct {
        bool encrypted;
        bool answers;
        bool notFound;
        const char* state;
        const char* key;
        std::string warning;
    } rows[] = {
        {true, true, false, "Enabled", "k1", ""},
        {true, true, false, "enabled", "k1", ""},
        {true, true, false, "ENABLED", "k1", ""},
        {true, true, false, "Disabled", "",
         "Encryption CMK [k1] for volume [data] is in [Disabled] state. Restored volume has been encrypted using "
         "default CMK."},
        {true, true, false, "PendingDeletion", "",
         "Encryption CMK [k1] for volume [data] is in [PendingDeletion] state. Restored volume has been encrypted "
         "using default CMK."},
        {true, true, true, "", "",
         "Encryption CMK [k1] for volume [data] could not be found. Restored volume has been encrypted using default "
         "CMK."},
        {true, false, false, "", "",
         "Encryption CMK [k1] for volume [data] could not be found. Restored volume has been encrypted using default "
         "CMK."},
        {false, true, false, "Disabled", "k1", ""},
    };
    for (const auto& row : rows) {
        KeyBridge::asked = 0;
        KeyBridge::answers = row.answers;
        KeyBridge::notFound = row.notFound;
        KeyBridge::state = row.state;
        auto object = Connected([] { return std::make_unique<KeyBridge>(); });
        ASSERT_TRUE(object);
        RestoreCtx ctx = Job();
        ctx.disks = {Disk("data", 8 * kGiB)};
        ctx.disks[0].encrypted = row.encrypted;
        ctx.disks[0].kmsKeyId = "k1";
        object->AdjustDiskPropertiesForStreamingRestore(ctx);
        const std::string what = std::string(row.state) + (row.notFound ? " not found" : "") +
                                 (row.answers ? "" : " no answer") + (row.encrypted ? "" : " unencrypted");
        EXPECT_EQ(row.encrypted ? 1 : 0, KeyBridge::asked) << what;
        EXPECT_EQ(row.key, ctx.disks[0].kmsKeyId) << what;
        EXPECT_EQ(row.encrypted, ctx.disks[0].encrypted) << what;
        if (row.warning.empty()) {
            EXPECT_TRUE(ctx.failures.empty()) << what;
        } else {
            ASSERT_EQ(1u, ctx.failures.size()) << what;
            EXPECT_EQ(row.warning, ctx.failures[0].reason) << what;
            EXPECT_TRUE(ctx.failures[0].flag) << what;
        }
    }
}

TEST_F(RestoreFixture, OnlyAHotAddRestoreStampsItsDiskType) {
    auto object = Connected();
    RestoreCtx ctx = Job();
    ctx.disks = {Disk("data", 8 * kGiB)};
    object->AdjustDiskPropertiesForStreamingRestore(ctx);
    EXPECT_EQ(0, ctx.disks[0].diskType);
    ASSERT_TRUE(object->SelectRestoreMethod(ctx));
    object->AdjustDiskPropertiesForStreamingRestore(ctx);
    EXPECT_EQ(27, ctx.disks[0].diskType);
}
