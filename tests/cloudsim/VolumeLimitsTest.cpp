// EBS's IOPS bounds per volume type, as CreateVolume enforces them.
#include <gtest/gtest.h>

#include "cloudsim/Volumes.h"

TEST(VolumeLimitsTest, Gp3KeepsItsBaselineAtAnySizeAndTheRatioBoundsOnlyWhatLiesAbove) {
    struct Case {
        const char* type;
        int64_t gib;
        int32_t iops, recorded;   // recorded -1: refused
    };
    const Case cases[] = {{"gp3", 1, 3000, 3000},    {"gp3", 1, 0, 3000},      {"gp3", 1, 3001, -1},
                          {"gp3", 8, 4000, 4000},    {"gp3", 8, 4001, -1},     {"gp3", 100, 16001, -1},
                          {"gp3", 100, 2999, -1},    {"io1", 4, 200, 200},     {"io1", 4, 201, -1}};
    for (const auto& c : cases) {
        int32_t out = -1;
        std::string error;
        const bool ok = cloudsim::CheckVolumeRequest(c.type, c.gib << 30, c.iops, out, error);
        const std::string what = std::string(c.type) + " " + std::to_string(c.gib) + " GiB " + std::to_string(c.iops);
        EXPECT_EQ(ok, c.recorded >= 0) << what << ": " << error;
        EXPECT_EQ(ok ? out : -1, c.recorded) << what;
    }
}
