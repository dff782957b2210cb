#include <gtest/gtest.h>
#include <unistd.h>

#include "framework/BiosInfo.h"
#include "framework/Clock.h"
#include "framework/DiskMapper.h"
#include "framework/FileUtils.h"
#include "framework/KDPI.h"
#include "support/TestEnv.h"

TEST(Bios, ReadsTrimmedDmiValuesUuidOptional) {
    TestEnv env;
    std::string dir = env.BaseDir() + "/dmi";
    FwFile::MakeDirs(dir);
    FwFile::WriteAllAtomic(dir + "/sys_vendor", "Amazon EC2\n");
    FwFile::WriteAllAtomic(dir + "/product_name", "  m5.large \n");
    FwFile::WriteAllAtomic(dir + "/product_uuid", "ec2a0b1c-0000-1111-2222-333344445555\n");
    FwFile::WriteAllAtomic(dir + "/bios_version", "1.0\n");
    TestEnv::SetSetting("Base", "sDmiFolder", dir);
    FwBiosValues v;
    ASSERT_TRUE(FwBios::Read(v));
    EXPECT_EQ("Amazon EC2|m5.large|ec2a0b1c-0000-1111-2222-333344445555|1.0",
              v.manufacturer + "|" + v.product + "|" + v.uuid + "|" + v.version);
    FwFile::RemoveFile(dir + "/product_uuid");  // root-only on real machines
    ASSERT_TRUE(FwBios::Read(v));
    EXPECT_EQ("", v.uuid);
    FwFile::RemoveFile(dir + "/bios_version");
    v.manufacturer = "untouched";
    EXPECT_FALSE(FwBios::Read(v));
    EXPECT_EQ("untouched", v.manufacturer);
}

TEST(Bios, OverrideWinsAndCanFail) {
    TestEnv env;
    TestEnv::SetSetting("Base", "sDmiFolder", env.BaseDir() + "/none");
    FwBiosValues v;
    EXPECT_FALSE(FwBios::Read(v));
    FwBios::SetOverride(FwBiosValues{"Vendor", "Product", "uuid-1", "v9"});
    ASSERT_TRUE(FwBios::Read(v));
    EXPECT_EQ("Product|uuid-1", v.product + "|" + v.uuid);
    FwBios::SetOverride(FwBiosValues{"Vendor", "Product", "uuid-1", "v9"}, false);
    EXPECT_FALSE(FwBios::Read(v));
    FwBios::SetOverride(std::nullopt);
    EXPECT_FALSE(FwBios::Read(v)) << "back to the (missing) DMI folder";
}

TEST(DiskMapper, NamesFindsAndWaitsForNitroDevicesInVirtualTime) {
    TestEnv env;
    EXPECT_EQ("nvme-Amazon_Elastic_Block_Store_vol0abc", CDiskMapperLinux::DeviceNameForVolume("vol-0abc"));
    std::string dir = env.BaseDir() + "/by-id";
    const std::string nitro = dir + "/nvme-Amazon_Elastic_Block_Store_vol0abc";
    ASSERT_TRUE(FwFile::MakeDirs(dir + "/nvme-Amazon_Elastic_Block_Store_vol.."));
    ASSERT_TRUE(FwFile::WriteAllAtomic(dir + "/nvme-Amazon_Elastic_Block_Store_vol../x", ""));
    TestEnv::SetSetting("VirtualServer", "sDiskByIdFolder", dir);
    TestEnv::SetSetting("VirtualServer", "nDiskMapperDeviceWaitSec", "45");
    CDiskMapperLinux mapper;
    std::string device = "unset";
    int64_t size = -1;
    EXPECT_FALSE(mapper.GetDeviceForVolume("vol-0def", device));
    EXPECT_FALSE(mapper.GetDeviceForVolume("vol-../x", device)) << "exists, but outside the naming scheme";
    const int64_t before = env.Clock().TotalSleptMs();
    EXPECT_FALSE(mapper.PostAttachDisk("vol-0abc", device, size, false));
    EXPECT_EQ(45000, env.Clock().TotalSleptMs() - before);
    EXPECT_EQ("unset", device);
    EXPECT_TRUE(mapper.PostAttachDisk("vol-0abc", device, size, true)) << "nothing to find after a failed attach";

    ASSERT_TRUE(FwFile::WriteAllAtomic(nitro, std::string(4096, 'x')));
    ASSERT_TRUE(mapper.GetDeviceForVolume("vol-0abc", device));
    EXPECT_EQ(nitro, device);
    device = "unset";
    ASSERT_TRUE(mapper.PostAttachDisk("vol-0abc", device, size, false));
    EXPECT_EQ(nitro, device);
    EXPECT_EQ(4096, size);
}

TEST(Identity, BaseFolderTempAndNames) {
    TestEnv env;
    EXPECT_EQ(env.BaseDir() + "/Temp", KDPI_Base::getTempDir());
    EXPECT_TRUE(FwFile::IsDirectory(env.BaseDir() + "/Temp"));
    char host[256] = {};
    ASSERT_EQ(0, gethostname(host, sizeof(host) - 1));
    EXPECT_EQ(host, KDPI_Focus::getClientName());
    EXPECT_EQ("Instance001/VirtualServer", KDPI_Focus::getFocus() + "/" + KDPI_Focus::getAppName());
}
