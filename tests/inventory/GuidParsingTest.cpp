// Tag and instance-type node GUIDs: what the bridge joined must come apart
// into the same query arguments.
#include <gtest/gtest.h>

#include <vector>

#include "factory/AmazonInfo.h"

namespace {
const std::string kSep = "#$vm-+=";

std::vector<std::string> ParseTag(const std::string& guid) {
    std::vector<std::string> parts = {"stale", "stale", "stale"};
    CAmazonInfo::ParseTagGUD(guid, parts[0], parts[1], parts[2]);
    return parts;
}

std::vector<std::string> ParseType(const std::string& guid) {
    std::vector<std::string> parts = {"stale", "stale"};
    CAmazonInfo::ParseInstanceTypeGUID(guid, parts[0], parts[1]);
    return parts;
}
}  // namespace

TEST(GuidParsing, TagGuidsSplitOnTheSeparatorElseOn0x12) {
    using P = std::vector<std::string>;
    // Multi-valued tag values hold "#", which must not split them.
    EXPECT_EQ(P({"us-east-1", "Environment", "Production#Staging"}),
              ParseTag("us-east-1" + kSep + "Environment" + kSep + "Production#Staging"));
    EXPECT_EQ(P({"us-east-1", "", "v"}), ParseTag("us-east-1" + kSep + kSep + "v"));
    EXPECT_EQ(P({"us-west-2", "Department", "Research"}), ParseTag("us-west-2\x12" "Department\x12" "Research"));
    // The separator wins when both occur.
    EXPECT_EQ(P({"a\x12" "b", "c", ""}), ParseTag("a\x12" "b" + kSep + "c"));
}

TEST(GuidParsing, MissingPartsAreClearedAndExtraPartsIgnored) {
    using P = std::vector<std::string>;
    EXPECT_EQ(P({"us-east-1", "", ""}), ParseTag("us-east-1"));
    EXPECT_EQ(P({"", "", ""}), ParseTag(""));
    EXPECT_EQ(P({"a", "b", "c"}), ParseTag("a" + kSep + "b" + kSep + "c" + kSep + "d"));

    EXPECT_EQ(P({"us-west-2", "t3.small"}), ParseType("us-west-2" + kSep + "t3.small"));
    EXPECT_EQ(P({"eu-north-1", "m5.large"}), ParseType("eu-north-1\x12m5.large\x12" "extra"));
    EXPECT_EQ(P({"us-east-1", ""}), ParseType("us-east-1"));
}
