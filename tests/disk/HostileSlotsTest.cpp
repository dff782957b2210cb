// Hostile input on the disk slots the framework calls, on both read paths:
// handles that were never handed out, handles of a disconnected disk or of an
// earlier mount, null buffers, sector ranges that overflow, leave the disk or
// split blocks, and disk names built to escape. Each call fails with its
// failure value; none crashes or reads out of bounds (the sanitizer build
// runs this too).
#include <climits>
#include <functional>

#include "disk/DiskFixture.h"

namespace {

constexpr unsigned kBlockSectors = 512 * 1024 / 512;

struct HostileSlots : DiskCloudTest, ::testing::WithParamInterface<ReadPath> {
    VmdkHandle open;      // a direct-read disk, open
    std::string snapshot;

    ReadPath Path() const override { return GetParam(); }

    void SetUp() override {
        DiskCloudTest::SetUp();
        ASSERT_TRUE(OpenSnapshotDisk(kRootVolume, snapshot, open));
    }

    // Every slot that takes a handle, with the value it returns on failure.
    std::vector<std::pair<const char*, std::function<bool(VmdkHandle)>>> Slots() {
        return {
            {"GetVmdkInfo", [this](VmdkHandle h) { VMInfoStructs::SDisk d; return owner.GetVmdkInfo(h, d) == 0; }},
            {"GetVmdkMetadata",
             [this](VmdkHandle h) { std::vector<VMInfoStructs::SDiskMetadataInfo> m; return owner.GetVmdkMetadata(h, m) == 0; }},
            {"GetVmdkTagList",
             [this](VmdkHandle h) { std::vector<VMInfoStructs::SDiskMetadataInfo> t; return owner.GetVmdkTagList(h, t) == 0; }},
            {"SetVmdkTagList", [this](VmdkHandle h) {
                 VMInfoStructs::SDiskMetadataInfo tag;
                 tag.name = "k";
                 tag.value = "v";
                 return owner.SetVmdkTagList(h, {tag}) == 0;
             }},
            {"ReadVmdk", [this](VmdkHandle h) {
                 std::string b(512 * 1024, '\0');
                 return owner.ReadVmdk(h, 0, kBlockSectors, &b[0]) == 1;
             }},
            {"GetVmdkExtents",
             [this](VmdkHandle h) { VMInfoStructs::SDiskChangeInfo i; return owner.GetVmdkExtents(h, "", 0, i) == 0; }},
            {"CloseVmdk", [this](VmdkHandle h) { return owner.CloseVmdk(h) == 0; }},
        };
    }
};

}  // namespace

TEST_P(HostileSlots, HandlesNeverHandedOutOrNoLongerValidAreRefusedBySlot) {
    int local = 0;
    const VmdkHandle forged[] = {
        VmdkHandle{},
        VmdkHandle{&local, &local},                       // addresses of something else
        VmdkHandle{open.vmHandle, &local},                // a real VM, a forged disk
        VmdkHandle{&local, open.diskHandle},              // a real disk under a forged VM
        VmdkHandle{open.diskHandle, open.vmHandle},       // the two swapped
        VmdkHandle{reinterpret_cast<void*>(0x10), reinterpret_cast<void*>(0x20)},
    };
    for (const auto& [name, call] : Slots())
        for (const auto& h : forged) EXPECT_TRUE(call(h)) << name;

    // After the VM is disconnected its handles lead nowhere, also once the
    // next mount on this object has registered and opened the same disk.
    const VmdkHandle stale = open;
    ASSERT_EQ(1, owner.CloseVmdk(open));
    ASSERT_TRUE(owner.DiskInfo()->Disconnect(vm));
    for (const auto& [name, call] : Slots()) EXPECT_TRUE(call(stale)) << name << " on a disconnected VM";
    ASSERT_TRUE(owner.ConnectDiskInfo(vm));
    std::string next;
    VmdkHandle fresh;
    ASSERT_TRUE(OpenSnapshotDisk(kRootVolume, next, fresh));
    for (const auto& [name, call] : Slots()) EXPECT_TRUE(call(stale)) << name << " on the next mount's disk";
    VMInfoStructs::SDisk disk;
    ASSERT_EQ(1, owner.GetVmdkInfo(fresh, disk));
    EXPECT_EQ(next, disk.snapshotId);
}

TEST_P(HostileSlots, ReadsWithoutABufferOrOutsideTheDisksWholeBlocksFail) {
    constexpr ULONGLONG kEnd = (8ULL << 30) / 512;   // the disk's end, in sectors
    std::string buffer(2 * 512 * 1024, '?');
    const struct {
        const char* what;
        ULONGLONG start;
        unsigned count;
        void* out;
    } rows[] = {
        {"no buffer", 0, kBlockSectors, nullptr},
        {"offset past 64 bits", ULLONG_MAX, 1, &buffer[0]},
        {"offset times sector size overflows", ULLONG_MAX / 512 + 1, 8, &buffer[0]},
        {"4 GiB or more in one read", 0, UINT_MAX, &buffer[0]},
        {"past the disk's end", kEnd, kBlockSectors, &buffer[0]},
        {"across the disk's end", kEnd - kBlockSectors, 2 * kBlockSectors, &buffer[0]},
        {"part of a block", 0, 8, &buffer[0]},
        {"off a block boundary", 8, kBlockSectors, &buffer[0]},
    };
    for (const auto& row : rows) EXPECT_EQ(1, owner.ReadVmdk(open, row.start, row.count, row.out)) << row.what;
    EXPECT_EQ(std::string(buffer.size(), '?'), buffer) << "a refused read wrote into the buffer";
    EXPECT_EQ(0, owner.ReadVmdk(open, kEnd - kBlockSectors, kBlockSectors, &buffer[0])) << "the last block reads";
}

TEST_P(HostileSlots, NamesBuiltToEscapeOpenNothing) {
    const std::string names[] = {"..", "../" + std::string(kRootVolume), "/", "vol-\"quoted\"", "vol-\n\x01\x7f",
                                 std::string("vol-\0hidden", 11), std::string(4096, 'v')};
    for (const auto& name : names) {
        VmdkHandle h;
        EXPECT_EQ(0, owner.OpenVmdk(vm.name, vm.guid, name, h)) << name;
        EXPECT_EQ(0, owner.OpenVmdk(name, name, kRootVolume, h)) << name;
        EXPECT_FALSE(owner.ValidateChangeId(vm.name, vm.guid, name, snapshot)) << name;
        EXPECT_FALSE(owner.ValidateChangeId(vm.name, vm.guid, kRootVolume, name)) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(BothPaths, HostileSlots, ::testing::Values(ReadPath::Rest, ReadPath::Bridge), ReadPathName);
