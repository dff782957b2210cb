// Tag and instance-type node GUIDs: what the bridge joined must come apart
// into the same query arguments.
#include <gtest/gtest.h>

#include <vector>

#include "factory/AmazonInfo.h"

// The parts split on the separator, else on 0x12; the separator wins when
// both occur. Missing parts are cleared and extra parts ignored.
TEST(GuidParsing, TagAndTypeGuidsSplitOnTheSeparatorElseOn0x12) {
    const std::string kSep = "#$vm-+=";
    using P = std::vector<std::string>;
    const struct {
        std::string guid;
        P tag, type;   // the parts as a tag GUID and as an instance-type GUID
    } rows[] = {
        // Multi-valued tag values hold "#", which must not split them.
        {"us-east-1" + kSep + "Environment" + kSep + "Production#Staging",
         {"us-east-1", "Environment", "Production#Staging"}, {"us-east-1", "Environment"}},
        {"us-east-1" + kSep + kSep + "v", {"us-east-1", "", "v"}, {"us-east-1", ""}},
        {"us-west-2\x12" "Department\x12" "Research", {"us-west-2", "Department", "Research"},
         {"us-west-2", "Department"}},
        {"a\x12" "b" + kSep + "c", {"a\x12" "b", "c", ""}, {"a\x12" "b", "c"}},
        {"us-east-1", {"us-east-1", "", ""}, {"us-east-1", ""}},
        {"", {"", "", ""}, {"", ""}},
        {"a" + kSep + "b" + kSep + "c" + kSep + "d", {"a", "b", "c"}, {"a", "b"}},
        {"eu-north-1\x12m5.large\x12" "extra", {"eu-north-1", "m5.large", "extra"}, {"eu-north-1", "m5.large"}},
    };
    for (const auto& row : rows) {
        P tag = {"stale", "stale", "stale"}, type = {"stale", "stale"};
        CAmazonInfo::ParseTagGUD(row.guid, tag[0], tag[1], tag[2]);
        CAmazonInfo::ParseInstanceTypeGUID(row.guid, type[0], type[1]);
        EXPECT_EQ(row.tag, tag) << row.guid;
        EXPECT_EQ(row.type, type) << row.guid;
    }
}
