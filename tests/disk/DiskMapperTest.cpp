// The proxy's disk mapper waits for an attached volume's device to appear.
#include <gtest/gtest.h>

#include "framework/Clock.h"
#include "framework/DiskMapper.h"
#include "framework/FileUtils.h"
#include "support/TestEnv.h"

TEST(DiskMapper, WaitsForTheDeviceInVirtualTime) {
    TestEnv env;
    const std::string dir = env.BaseDir() + "/by-id";
    ASSERT_TRUE(FwFile::MakeDirs(dir));
    TestEnv::SetSetting("VirtualServer", "sDiskByIdFolder", dir);
    TestEnv::SetSetting("VirtualServer", "nDiskMapperDeviceWaitSec", "45");
    CDiskMapperLinux mapper;
    std::string device = "unset";
    int64_t size = -1;
    EXPECT_FALSE(mapper.PostAttachDisk("vol-0abc", device, size, false));
    EXPECT_EQ(45, env.Clock().TotalSleptMs() / 1000);
    EXPECT_EQ("unset", device);
    EXPECT_TRUE(mapper.PostAttachDisk("vol-0abc", device, size, true)) << "nothing to find after a failed attach";
    ASSERT_TRUE(FwFile::WriteAllAtomic(dir + "/nvme-Amazon_Elastic_Block_Store_vol0abc", std::string(4096, 'x')));
    ASSERT_TRUE(mapper.PostAttachDisk("vol-0abc", device, size, false));
    EXPECT_EQ(dir + "/nvme-Amazon_Elastic_Block_Store_vol0abc", device);
    EXPECT_EQ(4096, size);
}
