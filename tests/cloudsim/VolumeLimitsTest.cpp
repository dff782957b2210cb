// EBS's size and IOPS bounds per volume type, as CreateVolume enforces them.
#include <gtest/gtest.h>

#include "cloudsim/Volumes.h"

namespace {
constexpr int64_t kGiB = 1024LL * 1024 * 1024;

struct Case {
    const char* type;
    int64_t gib;
    int32_t iops;
    bool accepted;
    int32_t recorded;   // when accepted
};
}  // namespace

TEST(VolumeLimitsTest, IopsBoundsFollowEachTypesRules) {
    const Case cases[] = {
        // gp3's 3,000 IOPS baseline holds whatever the size; the 500 per
        // GiB ratio bounds only what lies above it.
        {"gp3", 1, 3000, true, 3000},
        {"gp3", 1, 0, true, 3000},
        {"gp3", 1, 3001, false, 0},
        {"gp3", 6, 3000, true, 3000},
        {"gp3", 8, 4000, true, 4000},
        {"gp3", 8, 4001, false, 0},
        {"gp3", 100, 16000, true, 16000},
        {"gp3", 100, 16001, false, 0},
        {"gp3", 100, 2999, false, 0},
        // io1 has no baseline: its ratio of 50 per GiB holds from the start.
        {"io1", 4, 200, true, 200},
        {"io1", 4, 201, false, 0},
        {"io1", 4, 0, false, 0},
        {"gp2", 1, 5000, true, 0},
    };
    for (const auto& c : cases) {
        int32_t out = -1;
        std::string error;
        const bool ok = cloudsim::CheckVolumeRequest(c.type, c.gib * kGiB, c.iops, out, error);
        const std::string what = std::string(c.type) + " " + std::to_string(c.gib) + " GiB " + std::to_string(c.iops);
        EXPECT_EQ(ok, c.accepted) << what << ": " << error;
        if (ok && c.accepted) EXPECT_EQ(out, c.recorded) << what;
        if (!ok) EXPECT_EQ(error.rfind("Invalid", 0), 0u) << what << ": " << error;
    }
}
