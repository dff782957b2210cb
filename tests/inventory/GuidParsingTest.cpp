// Tag and instance-type node GUIDs: what the bridge joined must come apart
// into the same query arguments.
#include <gtest/gtest.h>

#include "factory/AmazonInfo.h"

namespace {
const std::string kSep = "#$vm-+=";

struct TagParts {
    std::string p0 = "stale", p1 = "stale", p2 = "stale";
};
TagParts ParseTag(const std::string& guid) {
    TagParts t;
    CAmazonInfo::ParseTagGUD(guid, t.p0, t.p1, t.p2);
    return t;
}
}  // namespace

TEST(GuidParsing, TagGuidRoundTripsThroughTheSeparator) {
    // Multi-valued tag values hold "#", which must not split them.
    auto t = ParseTag("us-east-1" + kSep + "Environment" + kSep + "Production#Staging");
    EXPECT_EQ("us-east-1", t.p0);
    EXPECT_EQ("Environment", t.p1);
    EXPECT_EQ("Production#Staging", t.p2);

    t = ParseTag("us-east-1" + kSep + kSep + "v");
    EXPECT_EQ("us-east-1", t.p0);
    EXPECT_EQ("", t.p1);
    EXPECT_EQ("v", t.p2);
}

TEST(GuidParsing, WithoutTheSeparatorSplitsOnCharacter0x12) {
    auto t = ParseTag("us-west-2\x12" "Department\x12" "Research");
    EXPECT_EQ("us-west-2", t.p0);
    EXPECT_EQ("Department", t.p1);
    EXPECT_EQ("Research", t.p2);

    // The separator wins when both occur.
    t = ParseTag("a\x12" "b" + kSep + "c");
    EXPECT_EQ("a\x12" "b", t.p0);
    EXPECT_EQ("c", t.p1);
    EXPECT_EQ("", t.p2);
}

TEST(GuidParsing, MissingPartsAreClearedAndExtraPartsIgnored) {
    auto t = ParseTag("us-east-1");
    EXPECT_EQ("us-east-1", t.p0);
    EXPECT_EQ("", t.p1);
    EXPECT_EQ("", t.p2);

    t = ParseTag("");
    EXPECT_EQ("", t.p0);

    t = ParseTag("a" + kSep + "b" + kSep + "c" + kSep + "d");
    EXPECT_EQ("a", t.p0);
    EXPECT_EQ("b", t.p1);
    EXPECT_EQ("c", t.p2);
}

TEST(GuidParsing, InstanceTypeGuidGivesRegionAndType) {
    std::string region = "stale", type = "stale";
    CAmazonInfo::ParseInstanceTypeGUID("us-west-2" + kSep + "t3.small", region, type);
    EXPECT_EQ("us-west-2", region);
    EXPECT_EQ("t3.small", type);

    CAmazonInfo::ParseInstanceTypeGUID("eu-north-1\x12m5.large\x12" "extra", region, type);
    EXPECT_EQ("eu-north-1", region);
    EXPECT_EQ("m5.large", type);

    CAmazonInfo::ParseInstanceTypeGUID("us-east-1", region, type);
    EXPECT_EQ("us-east-1", region);
    EXPECT_EQ("", type);
}
