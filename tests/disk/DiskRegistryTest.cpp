// The disk registry on its own, the slots' refusals of bad input, and the
// sizing of intermediate volumes.
#include <gtest/gtest.h>

#include "disk/AmazonDiskInfo.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "support/TestEnv.h"

using namespace AmazonDiskInfo;

namespace {

VMInfoStructs::SVMInfo Vm(const std::string& guid) {
    VMInfoStructs::SVMInfo vm;
    vm.name = "vm-" + guid;
    vm.guid = guid;
    vm.region = "us-east-1";
    return vm;
}

VMInfoStructs::SDisk Disk(const std::string& source, const std::string& staged) {
    VMInfoStructs::SDisk d;
    d.volumeId = source;
    d.newVolumeId = staged;
    d.snapshotId = "snap-" + source;
    d.sectorSize = 4096;
    d.size = 8LL << 30;
    return d;
}

}  // namespace

TEST(DiskRegistry, RegistersFindsAndForgetsDisks) {
    TestEnv env;
    CAmazonDiskInfo reg(nullptr);
    EXPECT_FALSE(reg.RegisterDisk(Vm("i-1"), Disk("vol-a", "vol-x"), "HOTADD", false)) << "VM not connected";
    ASSERT_TRUE(reg.Connect(Vm("i-1")));
    ASSERT_TRUE(reg.Connect(Vm("I-1"))) << "the same instance, connected once";
    ASSERT_TRUE(reg.RegisterDisk(Vm("i-1"), Disk("vol-a", "vol-x"), "EBS-DIRECT-API", false));
    VMInfoStructs::SDisk again = Disk("vol-a", "vol-x");
    again.volumeId = "VOL-A";
    ASSERT_TRUE(reg.RegisterDisk(Vm("i-1"), again, "EBS-DIRECT-API", false)) << "the same: kept";

    VmdkHandle h;
    AmazonDiskState state{};
    ASSERT_EQ(DiskRegistered, reg.GetDiskHandle("", "I-1", "Vol-A", h, state));
    VMInfoStructs::SDisk disk;
    bool restore = true;
    ASSERT_TRUE(reg.GetDiskInfo(h, disk, restore));
    EXPECT_EQ("vol-x", disk.newVolumeId);
    EXPECT_FALSE(restore);
    EXPECT_EQ("EBS-DIRECT-API", reg.GetDiskTransportMode(h));
    std::string snapshot, region;
    uint32_t sector = 0;
    int64_t capacity = 0;
    ASSERT_TRUE(reg.GetDiskReadInfo(h, snapshot, region, sector, capacity));
    EXPECT_EQ("snap-vol-a", snapshot);
    EXPECT_EQ("us-east-1", region);
    EXPECT_EQ(4096u, sector);
    EXPECT_EQ(8LL << 30, capacity);

    EXPECT_TRUE(reg.CloseDisk(Vm("i-1"), disk)) << "a disk that is not open is left as it is";
    EXPECT_EQ(DiskRegistered, reg.GetDiskState(h));
    ASSERT_TRUE(reg.SetDiskState(h, DiskOpen));
    EXPECT_TRUE(reg.CloseDisk(Vm("i-1"), disk));
    EXPECT_EQ(DiskClosed, reg.GetDiskState(h));
    EXPECT_FALSE(reg.SetDiskState(VmdkHandle{h.vmHandle, nullptr}, DiskOpen));

    std::vector<VMInfoStructs::SDisk> disks;
    ASSERT_TRUE(reg.GetDisks(Vm("i-1"), disks));
    ASSERT_EQ(1u, disks.size());
    EXPECT_EQ("vol-x", disks[0].name);
    EXPECT_EQ("vol-a", disks[0].volumeId);

    VMInfoStructs::SVMInfo only;
    disks.clear();
    ASSERT_TRUE(reg.GetLiveBrowseMountInfo(only, disks));
    EXPECT_EQ("i-1", only.guid);
    ASSERT_TRUE(reg.Connect(Vm("i-2")));
    EXPECT_FALSE(reg.GetLiveBrowseMountInfo(only, disks)) << "more than one VM";

    ASSERT_TRUE(reg.Disconnect(Vm("i-1")));
    EXPECT_FALSE(reg.GetDiskInfo(h, disk, restore)) << "a handle into a disconnected VM is refused";
    EXPECT_FALSE(reg.GetDiskReadInfo(h, snapshot, region, sector, capacity));
    EXPECT_EQ(0, reg.GetDiskState(h));
    EXPECT_FALSE(reg.Disconnect(Vm("i-1")));
}

// A mount that was never unmounted left its records; the next mount's
// staging of the same disk replaces them, and handles into them go stale.
TEST(DiskRegistry, ADiskStagedAgainOtherwiseReplacesTheEarlierRecord) {
    TestEnv env;
    const struct {
        const char* what;
        const char* staged;
        const char* snapshot;
        const char* mode;
        bool restore;
    } rows[] = {
        {"another snapshot", "vol-x", "snap-next", "EBS-DIRECT-API", false},
        {"another staged volume", "vol-y", "snap-vol-a", "EBS-DIRECT-API", false},
        {"another transport mode", "vol-x", "snap-vol-a", "HOTADD", false},
        {"for a restore", "vol-x", "snap-vol-a", "EBS-DIRECT-API", true},
    };
    for (const auto& row : rows) {
        CAmazonDiskInfo reg(nullptr);
        ASSERT_TRUE(reg.Connect(Vm("i-1")));
        ASSERT_TRUE(reg.RegisterDisk(Vm("i-1"), Disk("vol-a", "vol-x"), "EBS-DIRECT-API", false));
        VmdkHandle earlier, later;
        AmazonDiskState state{};
        ASSERT_EQ(DiskRegistered, reg.GetDiskHandle("", "i-1", "vol-a", earlier, state));
        ASSERT_TRUE(reg.SetDiskState(earlier, DiskClosed));

        VMInfoStructs::SDisk next = Disk("vol-a", row.staged);
        next.snapshotId = row.snapshot;
        ASSERT_TRUE(reg.RegisterDisk(Vm("i-1"), next, row.mode, row.restore)) << row.what;
        ASSERT_EQ(DiskRegistered, reg.GetDiskHandle("", "i-1", "vol-a", later, state)) << row.what;
        VMInfoStructs::SDisk disk;
        bool restore = false;
        ASSERT_TRUE(reg.GetDiskInfo(later, disk, restore)) << row.what;
        EXPECT_EQ(row.snapshot, disk.snapshotId) << row.what;
        EXPECT_EQ(row.staged, disk.newVolumeId) << row.what;
        EXPECT_EQ(row.mode, reg.GetDiskTransportMode(later)) << row.what;
        EXPECT_EQ(row.restore, restore) << row.what;
        EXPECT_FALSE(reg.GetDiskInfo(earlier, disk, restore)) << row.what << ": the earlier handle still works";
        std::vector<VMInfoStructs::SDisk> disks;
        ASSERT_TRUE(reg.GetDisks(Vm("i-1"), disks));
        EXPECT_EQ(1u, disks.size()) << row.what;

        // A disk the data mover still has open is not taken from under it.
        ASSERT_TRUE(reg.SetDiskState(later, DiskOpen));
        EXPECT_FALSE(reg.RegisterDisk(Vm("i-1"), Disk("vol-a", "vol-z"), "EBS-DIRECT-API", false)) << row.what;
        ASSERT_TRUE(reg.GetDiskInfo(later, disk, restore)) << row.what;
        EXPECT_EQ(row.staged, disk.newVolumeId) << row.what;
    }
}

// Forged and stale handles, null buffers and ranges past the disk are
// HostileSlotsTest's, on a connected object; here the object has never
// connected, and an unaddressable range says why.
TEST(DiskSlots, OpensWithoutARegistryOrVolumeFailAndUnaddressableRangesSayWhy) {
    TestEnv env;
    CAmazonInfo info(kAmazonInstanceType);
    VmdkHandle none;
    char buffer[512];
    EXPECT_EQ(0, info.OpenVmdk("vm", "i-1", "vol-a", none)) << "no registry yet";
    ASSERT_TRUE(info.ConnectDiskInfo(Vm("i-1")));
    EXPECT_EQ(0, info.OpenVmdk("vm", "i-1", "", none));
    EXPECT_EQ(0, info.OpenVmdk("vm", "i-1", "vol-a", none));
    EXPECT_EQ(23, info.GetLastVMError());

    ASSERT_TRUE(info.DiskInfo()->RegisterDisk(Vm("i-1"), Disk("vol-a", "vol-x"), "EBS-DIRECT-API", false));
    VmdkHandle h;
    AmazonDiskState state{};
    ASSERT_TRUE(info.DiskInfo()->GetDiskHandle("vm", "i-1", "vol-a", h, state));
    const std::string& err = "the range of snapshot snap-vol-a cannot be addressed";
    std::vector<std::string> log;
    EvDebug::SetTap([&](int, const std::string&, const std::string& m) { log.push_back(m); });
    EXPECT_EQ(1, info.ReadVmdk(h, 1ULL << 52, 1, buffer)) << "offset beyond 64 bits";
    EXPECT_EQ(1, info.ReadVmdk(h, 0, 1u << 20, buffer)) << "4 GiB in one read";
    ASSERT_EQ(2u, log.size());
    for (const auto& line : log) EXPECT_NE(std::string::npos, line.find(err)) << line;
    EXPECT_EQ(23, info.GetLastVMError());
    EXPECT_EQ(err, info.GetLastVMErrorDetails()) << "the framework is told what the log says";
}

TEST(OptimizeVolumeParams, SizesIntermediateVolumes) {
    TestEnv env;
    CAmazonInfo info(kAmazonInstanceType);
    struct Row {
        const char* intermediateType;  // setting; empty: not set
        long long gb;
        const char* type;
        int iops;
        bool force;
        const char* wantType;
        int wantIops;
    };
    const Row rows[] = {
        {"", 3, "gp3", 3000, true, "gp3", 3000},          // small volumes keep their type
        {"", 10, "gp3", 3000, true, "io2", 5000},         // 500 per GB
        {"", 2048, "gp2", 100, true, "io2", 10000},       // the bound from 1024 GB
        {"", 10, "gp3", 3000, false, "io2", 100},         // created low, raised before reading
        {"", 1LL << 24, "gp2", 100, true, "io2", 10000},  // 16 PiB: the bound, not a wrapped figure
        {"gp3", 1500, "gp2", 100, true, "gp3", 10000},
        {"gp3", 100, "gp2", 100, true, "gp3", 5000},
        {"gp3", 1100, "gp2", 100, true, "gp3", 10000},
    };
    for (const auto& row : rows) {
        if (*row.intermediateType)
            TestEnv::SetSetting("VirtualServer", "AmazonIntermediateVolumeType", row.intermediateType);
        long long bytes = row.gb << 30;
        std::string type = row.type;
        int iops = row.iops;
        info.OptimizeVolumeParams(VM_CLEANER_BACKUP, bytes, type, iops, row.force);
        EXPECT_EQ(row.wantType, type) << row.gb << " GB";
        EXPECT_EQ(row.wantIops, iops) << row.gb << " GB";
    }
    TestEnv::SetSetting("VirtualServer", "nAWSBackupVolumeMaxIOPS", "1000");
    long long bytes = 2048LL << 30;
    std::string type = "gp2";
    int iops = 0;
    info.OptimizeVolumeParams(VM_CLEANER_BACKUP, bytes, type, iops, true);
    EXPECT_EQ(5000, iops) << "from 1024 GB never below 5000";
    iops = 7;
    info.OptimizeVolumeParams(VM_CLEANER_RESTORE, bytes, type, iops, true);
    EXPECT_EQ(7, iops) << "restore volumes are not touched";
    TestEnv::SetSetting("VirtualServer", "bEnableAWSOptimizedBackupVolume", "0");
    info.OptimizeVolumeParams(VM_CLEANER_BACKUP, bytes, type, iops, true);
    EXPECT_EQ(7, iops);
}
