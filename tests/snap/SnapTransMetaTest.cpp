// Transient metadata texts and the snapshot manager's snapshot pairs: the
// pairs the manager reads are exactly those written, whatever a value holds.
#include <gtest/gtest.h>

#include "framework/ProtectedString.h"
#include "snap/SnapMetadataPairs.h"
#include "snap/SnapTransMeta.h"
#include "support/TestEnv.h"

namespace {
size_t Pairs(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), ';')); }

TEST(SnapTransMetaTest, TwentySixPairsInOrderThatReadBack) {
    TestEnv env;
    AmazonSnapTransMetaInfo meta;
    meta.appType = 1;
    meta.subclientId = 5;
    meta.opType = 2;
    meta.nameTag = "ZR_2_1234_77_1700000000";
    meta.targetEncryptionKey = "arn$aws$kms$us-east-1$111122223333$key/abc";
    std::string text, error;
    ASSERT_TRUE(SnapTransMeta::Serialize(meta, text, error)) << error;
    EXPECT_EQ(Pairs(text), 26u);
    EXPECT_EQ(text.rfind("appType:1;", 0), 0u);
    EXPECT_EQ(text.substr(text.size() - 14), "subclientId:5;");
    EXPECT_NE(text.find(";contentId:0;"), std::string::npos);

    AmazonSnapTransMetaInfo back;
    ASSERT_TRUE(SnapTransMeta::Parse(text, back, error)) << error;
    EXPECT_EQ(back.nameTag, meta.nameTag);
    EXPECT_EQ(back.targetEncryptionKey, meta.targetEncryptionKey);
    EXPECT_EQ(back.opType, 2);
    EXPECT_EQ(back.subclientId, 5);
}

TEST(SnapTransMetaTest, TheSecretKeyIsSealedInTheTextAndMaskedInTheLog) {
    TestEnv env;
    AmazonSnapTransMetaInfo meta;
    meta.targetAccessKey = "AKIADEMOADMIN0000001";
    meta.targetSecretKey = "demo-admin-secret";
    std::string text, error;
    ASSERT_TRUE(SnapTransMeta::Serialize(meta, text, error)) << error;
    EXPECT_EQ(text.find("demo-admin-secret"), std::string::npos);
    EXPECT_EQ(Pairs(text), 26u) << "the sealed form holds no separator";
    AmazonSnapTransMetaInfo back;
    ASSERT_TRUE(SnapTransMeta::Parse(text, back, error)) << error;
    std::string clear;
    ASSERT_TRUE(FwProtected::Open(back.targetSecretKey, clear));
    EXPECT_EQ(clear, "demo-admin-secret");
    const std::string logged = SnapTransMeta::ForLog(text);
    EXPECT_NE(logged.find("targetSecretKey:****;"), std::string::npos);
    EXPECT_EQ(logged.find(back.targetSecretKey), std::string::npos);
}

TEST(SnapTransMetaTest, ValuesThatWouldInjectPairsAreRefused) {
    TestEnv env;
    struct Case {
        const char* name;
        void (*set)(AmazonSnapTransMetaInfo&);
    };
    const Case cases[] = {
        {"';' in the description", [](AmazonSnapTransMetaInfo& m) { m.description = "x;snapUUID:snap-evil"; }},
        {"':' in the name", [](AmazonSnapTransMetaInfo& m) { m.nameTag = "a:b"; }},
        {"a new line", [](AmazonSnapTransMetaInfo& m) { m.ec2Instance = "i-1\nopType:9"; }},
        {"an oversized value", [](AmazonSnapTransMetaInfo& m) { m.tagInfo = std::string(2000, 't'); }},
        {"a key ARN with its ':'", [](AmazonSnapTransMetaInfo& m) { m.targetEncryptionKey = "arn:aws:kms"; }},
    };
    for (const auto& c : cases) {
        AmazonSnapTransMetaInfo meta;
        c.set(meta);
        std::string text = "left", error;
        EXPECT_FALSE(SnapTransMeta::Serialize(meta, text, error)) << c.name;
        EXPECT_TRUE(text.empty()) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
    }
}

TEST(SnapTransMetaTest, AKeyArnTravelsWithDollarsForItsColonsAndReadsBack) {
    TestEnv env;
    const std::string arn = "arn:aws:kms:us-east-1:111122223333:key/1a2b3c4d-5e6f-4a7b-8c9d-0e1f2a3b4c5d";
    AmazonSnapTransMetaInfo meta;
    meta.targetEncryptionKey = SnapTransMeta::KeyArnForMetadata(arn);
    EXPECT_EQ("arn$aws$kms$us-east-1$111122223333$key/1a2b3c4d-5e6f-4a7b-8c9d-0e1f2a3b4c5d", meta.targetEncryptionKey);
    std::string text, error;
    ASSERT_TRUE(SnapTransMeta::Serialize(meta, text, error)) << error;
    EXPECT_EQ(Pairs(text), 26u);
    AmazonSnapTransMetaInfo back;
    ASSERT_TRUE(SnapTransMeta::Parse(text, back, error)) << error;
    EXPECT_EQ(arn, SnapTransMeta::KeyArnFromMetadata(back.targetEncryptionKey));
}

TEST(SnapTransMetaTest, MalformedTextsAreRefusedWithTheRecordUntouched) {
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"empty", ""},
        {"no closing ';'", "appType:1;subclientId:5"},
        {"a pair without ':'", "appType1;"},
        {"a pair with two ':'", "nameTag:a:b;"},
        {"an unknown key", "appType:1;evil:1;"},
        {"a repeated key", "snapUUID:snap-1;snapUUID:snap-2;"},
        {"a number past 32 bits", "appType:4294967296;"},
        {"a number that is no number", "iops:12abc;"},
        {"an oversized value", "description:" + std::string(2000, 'd') + ";"},
        {"an oversized text", std::string(70000, ';')},
    };
    for (const auto& [name, text] : cases) {
        AmazonSnapTransMetaInfo meta;
        meta.nameTag = "kept";
        std::string error;
        EXPECT_FALSE(SnapTransMeta::Parse(text, meta, error)) << name;
        EXPECT_EQ(meta.nameTag, "kept") << name;
        EXPECT_FALSE(error.empty()) << name;
    }
}

TEST(SnapMetadataPairsTest, TheSnapshotAndRegionOfTheManagersText) {
    std::string id, region;
    std::vector<std::string> complaints;
    EXPECT_TRUE(SnapMetadataPairs::FindSnapshotAndRegion("snapUUID:snap-1;sourceRegion:us-east-1;", id, region,
                                                         complaints));
    EXPECT_EQ(id, "snap-1");
    EXPECT_EQ(region, "us-east-1");
    EXPECT_TRUE(complaints.empty());

    EXPECT_TRUE(SnapMetadataPairs::FindSnapshotAndRegion(";;bogus;SNAPUUID:snap-2;snapUUID:snap-3;SourceRegion:eu-west-1",
                                                         id, region, complaints));
    EXPECT_EQ(id, "snap-2") << "the first one counts";
    EXPECT_EQ(region, "eu-west-1");
    ASSERT_EQ(complaints.size(), 1u);
    EXPECT_EQ(complaints[0], "bogus");

    // A runaway text is reported in bounds.
    std::string runaway;
    for (int i = 0; i < 100; ++i) runaway += "a:b:c;";
    runaway += std::string(5000, 'x') + ";snapUUID:snap-9;sourceRegion:us-east-1;";
    complaints.clear();
    EXPECT_TRUE(SnapMetadataPairs::FindSnapshotAndRegion(runaway, id, region, complaints));
    EXPECT_EQ(id, "snap-9");
    ASSERT_EQ(complaints.size(), SnapMetadataPairs::kMaxInvalidTokens);
    EXPECT_EQ(complaints[0], "a:b:c") << "a token with two \":\" is not a pair";
    complaints.clear();
    SnapMetadataPairs::FindSnapshotAndRegion(std::string(5000, 'x'), id, region, complaints);
    ASSERT_EQ(complaints.size(), 1u);
    EXPECT_EQ(complaints[0].size(), SnapMetadataPairs::kMaxInvalidTokenChars);

    id = region = "kept";
    EXPECT_FALSE(SnapMetadataPairs::FindSnapshotAndRegion("snapUUID:snap-4;", id, region, complaints));
    EXPECT_EQ(id, "kept");
    EXPECT_FALSE(SnapMetadataPairs::FindSnapshotAndRegion("", id, region, complaints));
}
}  // namespace
