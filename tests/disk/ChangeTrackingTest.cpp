// Changed-block tracking inside one job: what InitCBT takes from the change
// id, the extents the block lists become, which reference AMIs the start-up
// clean-up may remove and how the post-backup hands the reference on.
#include <algorithm>

#include "common/TagNames.h"
#include "disk/DiskFixture.h"
#include "framework/MessageBase.h"
#include "support/MockBridge.h"

namespace {
constexpr uint64_t kB = 524288;
const char kBogusSnapshot[] = "snap-000000000000bad00";
const char kCbtName[] = "KD_CBT_Snap";

std::string ChangeId(const std::string& lastFull, const std::string& reference) {
    CNMessageBase info("VirtualServer::VMReferencePointInfo");
    info.SetString(1, lastFull);
    info.SetString(3, reference);
    std::string text;
    EXPECT_EQ(CNMessageBase::kOk, info.Serialize(text));
    return text;
}

VMInfoStructs::SDisk Disk(const std::string& snapshot, bool filtered = false, const std::string& cbtCopy = "") {
    VMInfoStructs::SDisk disk;
    disk.volumeId = kRootVolume;
    disk.zone = "us-east-1a";
    disk.snapshotId = snapshot;
    disk.snapshotIdCbt = cbtCopy;
    disk.filtered = filtered;
    return disk;
}
}  // namespace

struct ChangeTrackingTest : DiskCloudTest {
    std::string owned;  // a completed snapshot of the source account's own

    void SetUp() override {
        DiskCloudTest::SetUp();
        owned = SnapshotOf(kRootVolume);
    }
    // A job of the web server whose one disk has the owned snapshot.
    MountCtx Job(const std::string& changeId) {
        MountCtx ctx;
        ctx.vm = vm;
        ctx.vm.disks = {Disk(owned)};
        ctx.requestedVMName = vm.name;
        ctx.requestedVMGuid = vm.guid;
        ctx.subclientId = 7;
        ctx.cbtEnabled = true;
        ctx.changeId = changeId;
        return ctx;
    }
    // A reference AMI as an earlier job of the subclient left it.
    std::string CbtAmi(int subclient, const std::string& instance = kWebServer) {
        std::vector<std::string> snapshots;
        std::string ami;
        auto* bridge = owner.SourceBridge();
        EXPECT_TRUE(bridge->CreateAMISnapshot(kWebServer, "", "earlier", "", "", snapshots, ami));
        EXPECT_TRUE(bridge->SetTag(ami, "Name", kCbtName, true) &&
                    bridge->SetTag(ami, AmazonTags::kSubclientTag, std::to_string(subclient), true) &&
                    bridge->SetTag(ami, AmazonTags::kBackupTag, instance, true));
        return ami;
    }
    std::string Tag(const std::string& resource, const std::string& key) {
        std::string value;
        EXPECT_TRUE(owner.SourceBridge()->GetTag(resource, key, value));
        return value;
    }
    // Marked for removal: on the instance's list of backup AMIs, and
    // registered with the cleaner.
    std::pair<bool, bool> Marked(const std::string& ami) {
        std::string path;
        std::vector<std::string> ids;
        EXPECT_TRUE(owner.Cleaner().GetRegisteredVM(VM_CLEANER_BACKUP, vm.guid, path, false));
        owner.Cleaner().GetRegisteredTemplates(path, ids);
        return {("#" + Tag(kWebServer, AmazonTags::kAMITag) + "#").find("#" + ami + "#") != std::string::npos,
                std::find(ids.begin(), ids.end(), ami) != ids.end()};
    }
};

// Every row starts on an object that has just read instance A's chain: no
// path through InitCBT may carry A's AMIs into the next instance's job.
TEST_F(ChangeTrackingTest, InitCbtReadsTheChangeIdAndForgetsThePreviousInstance) {
    const std::string malformed = ChangeId("ami-full", "ami-ref").substr(0, 40) + "!";
    const struct {
        const char* what;
        std::string changeId;
        bool failback, ok;
        const char* status;
        int level;
        const char *lastFull, *reference;
    } rows[] = {
        {"no change id", "", false, true, "Used", 1, "", ""},
        {"a change id", ChangeId("ami-full", "ami-ref"), false, true, "Used", 2, "ami-full", "ami-ref"},
        {"a malformed change id", malformed, false, false, "Failed", -1, "", ""},
        {"a change id naming no reference", ChangeId("ami-full", ""), false, false, "Failed", -1, "", ""},
        {"failback", ChangeId("ami-full", "ami-ref"), true, false, "Disabled", -1, "", ""},
    };
    for (const auto& row : rows) {
        MountCtx a = Job(ChangeId("ami-a-full", "ami-a-ref"));
        ASSERT_TRUE(owner.InitCBT(a));
        ASSERT_EQ("ami-a-ref", owner.CbtReferenceAMI());
        MountCtx b = Job(row.changeId);
        b.requestedVMGuid = "i-0b0b0b0b0b0b0b0b0";
        b.failback = row.failback;
        b.backupLevel = -1;
        EXPECT_EQ(row.ok, owner.InitCBT(b)) << row.what;
        EXPECT_EQ(row.status, b.cbtStatus) << row.what;
        EXPECT_EQ(row.level, b.backupLevel) << row.what;
        EXPECT_EQ(row.lastFull, owner.CbtLastFull()) << row.what;
        EXPECT_EQ(row.reference, owner.CbtReferenceAMI()) << row.what;
    }
}

TEST_F(ChangeTrackingTest, ValidationUsesTheFirstDiskThatWillBeReadWithASnapshot) {
    const struct { const char* what; std::vector<VMInfoStructs::SDisk> disks; bool ok; } rows[] = {
        {"filtered and snapshot-less disks skipped",
         {Disk(kBogusSnapshot, true), Disk(""), Disk(owned), Disk(kBogusSnapshot)}, true},
        {"the first usable disk decides",
         {Disk(owned, true), Disk(""), Disk(kBogusSnapshot), Disk(owned)}, false},
        {"the change-tracking copy comes first", {Disk(kBogusSnapshot, false, owned)}, true},
        {"... also when it is bad", {Disk(owned, false, kBogusSnapshot)}, false},
        {"another account's public snapshot is not served", {Disk(kPublicSnapshot)}, false},
        {"only filtered disks", {Disk(owned, true)}, false},
        {"no disks", {}, false},
    };
    for (const auto& row : rows) {
        MountCtx ctx = Job("");
        ctx.vm.disks = row.disks;
        EXPECT_EQ(row.ok, owner.ValidateCBT(ctx)) << row.what;
    }
}

// The block lists as byte extents, directly and through a registered disk,
// whose change-tracking copy of the snapshot is the one compared; block 9000
// lies past what 32-bit offsets hold.
TEST_F(ChangeTrackingTest, BlockListsBecomeByteExtentsOfAllocatedAndChangedBlocks) {
    VMInfoStructs::SDisk disk = Disk("");  // an empty 8 GiB volume
    disk.size = 8LL << 30;
    disk.volumeType = "gp3";
    ASSERT_TRUE(owner.SourceBridge()->CreateVolume(disk, true, ""));
    FwClock::SleepMs(20000);
    const std::string volume = disk.newVolumeId;
    for (int64_t b : {0, 5, 9}) cloud->WriteVolume(volume, b * kB, "block " + std::to_string(b));
    const std::string first = SnapshotOf(volume);
    cloud->WriteVolume(volume, 5 * kB, "block 5, rewritten");
    cloud->WriteVolume(volume, 9 * kB, std::string(kB, '\0'));
    const std::string second = SnapshotOf(volume);
    cloud->WriteVolume(volume, 9000 * kB, "far out");
    const std::string third = SnapshotOf(volume);
    disk.volumeId = volume;
    disk.snapshotId = first;  // the direct-read snapshot; change tracking has its own copy
    disk.snapshotIdCbt = third;
    ASSERT_TRUE(owner.DiskInfo()->RegisterDisk(vm, disk, "EBS-DIRECT-API", false));
    VmdkHandle handle;
    AmazonDiskInfo::AmazonDiskState state;
    ASSERT_NE(0, owner.DiskInfo()->GetDiskHandle(vm.name, vm.guid, volume, handle, state));

    const struct {
        std::string previous, current;  // no previous: every allocated block; no current: the disk's
        std::vector<uint64_t> blocks;
    } rows[] = {
        {"", first, {0, 5, 9}}, {first, second, {5, 9}}, {second, second, {}},
        {"", "", {0, 5, 9000}}, {second, "", {9000}},
    };
    VMInfoStructs::SDiskChangeInfo info;  // reused: a row must not see the last one's extents
    for (const auto& row : rows) {
        const bool ok = row.current.empty() ? owner.GetVmdkExtents(handle, row.previous, 0, info) == 1
                        : row.previous.empty() ? owner.GetAllocatedBlocks(row.current, "us-east-1a", info)
                                               : owner.GetChangedBlocks(row.previous, row.current, "us-east-1a", info);
        ASSERT_TRUE(ok) << row.previous << " " << row.current;
        std::vector<std::pair<uint64_t, uint64_t>> got, want;
        for (const auto& e : info.extents) got.emplace_back(e.start, e.length);
        for (uint64_t b : row.blocks) want.emplace_back(b * kB, kB);
        EXPECT_EQ(want, got) << row.previous << " " << row.current;
    }
    EXPECT_EQ(4718592000ULL, info.extents.at(0).start);
    EXPECT_FALSE(owner.GetChangedBlocks(owned, second, "us-east-1a", info)) << "another volume's snapshot";
    EXPECT_FALSE(owner.GetAllocatedBlocks(kPublicSnapshot, "us-east-1a", info)) << "another account's snapshot";
    EXPECT_TRUE(owner.ValidateChangeId(vm.name, vm.guid, volume, first));
    EXPECT_FALSE(owner.ValidateChangeId(vm.name, vm.guid, volume, kBogusSnapshot));
    EXPECT_FALSE(owner.ValidateChangeId(vm.name, vm.guid, volume, ""));
    EXPECT_FALSE(owner.ValidateChangeId(vm.name, vm.guid, kDataVolume, first)) << "not a registered disk";
}

TEST_F(ChangeTrackingTest, StartUpCleanupKeepsTheReferenceAndExpiresOtherSubclientsAfter48Hours) {
    const std::string stray1 = CbtAmi(7), reference = CbtAmi(7), stray2 = CbtAmi(7);
    const std::string otherSubclient = CbtAmi(8), otherInstance = CbtAmi(7, "i-0b0b0b0b0b0b0b0b0");
    MountCtx ctx = Job(ChangeId("ami-full", reference));
    ASSERT_TRUE(owner.InitCBT(ctx));
    // An age setting that makes no sense keeps the default of 48 hours.
    TestEnv::SetSetting("VirtualServer", "nExpireCBTSnapshotHours", "-1");
    ASSERT_TRUE(owner.DeleteExpiredCBTSnapshot(ctx));
    EXPECT_FALSE(ImageLives(stray1) || ImageLives(stray2));
    EXPECT_TRUE(ImageLives(reference) && ImageLives(otherSubclient) && ImageLives(otherInstance));
    env.Clock().AdvanceMs(47LL * 3600 * 1000);
    owner.DeleteExpiredCBTSnapshot(ctx);
    EXPECT_TRUE(ImageLives(otherSubclient)) << "not 48 hours old yet";
    env.Clock().AdvanceMs(2LL * 3600 * 1000);
    owner.DeleteExpiredCBTSnapshot(ctx);
    EXPECT_FALSE(ImageLives(otherSubclient));
    EXPECT_TRUE(ImageLives(reference) && ImageLives(otherInstance));
}

// The chain the framework holds still needs its reference when this job
// could not use it: removing it would make every later backup a full one.
TEST_F(ChangeTrackingTest, TheAmiTheIncomingChangeIdNamesIsNeverRemoved) {
    for (const bool initFailed : {false, true}) {
        const std::string reference = CbtAmi(7), stray = CbtAmi(7);
        MountCtx ctx = Job(ChangeId("ami-full", reference));
        ctx.cbtEnabled = initFailed;  // when off, InitCBT never runs
        ctx.vm.disks.clear();         // nothing to validate change tracking with
        if (initFailed) { EXPECT_FALSE(owner.InitCBT(ctx)); }
        owner.DeleteExpiredCBTSnapshot(ctx);
        EXPECT_FALSE(ImageLives(stray)) << initFailed;
        env.Clock().AdvanceMs(49LL * 3600 * 1000);
        owner.DeleteExpiredCBTSnapshot(ctx);
        EXPECT_TRUE(ImageLives(reference)) << initFailed;
    }
}

TEST_F(ChangeTrackingTest, PostBackupHandsTheReferenceOnAndMarksThePreviousOneForRemoval) {
    // A job with a failback id runs, and registers, under that id.
    const struct { const char* what; bool incremental, skipDelete, copy, failback; } rows[] = {
        {"full", false, false, false, false},
        {"incremental", true, false, false, false},
        {"incremental, previous kept by setting", true, true, false, false},
        {"backup copy", true, false, true, false},
        {"incremental under a failback id", true, false, false, true},
    };
    for (const auto& row : rows) {
        TestEnv::SetSetting("VirtualServer", "bSkipDeleteSnapshotsForAmazon", row.skipDelete ? "true" : "false");
        const std::string previous = CbtAmi(7);
        MountCtx ctx = Job(row.incremental ? ChangeId("ami-full", previous) : "");
        ASSERT_TRUE(owner.InitCBT(ctx)) << row.what;
        ctx.backupToTape = row.copy;
        if (row.failback) {
            ctx.requestedVMGuid = "i-0000000000000f00d";
            ctx.failbackVMGuid = ctx.effectiveVMGuid = vm.guid;
        }
        // What this job's staging left: its AMI, registered and on the instance.
        std::vector<std::string> snapshots;
        std::string ami;
        ASSERT_TRUE(owner.SourceBridge()->CreateAMISnapshot(kWebServer, "", "job", "", "", snapshots, ami));
        ASSERT_EQ(2u, snapshots.size());
        ctx.amiId = ctx.vm.amiId = ami;
        ctx.vm.disks = {Disk(owned, false, snapshots[0]), Disk(owned, false, snapshots[1])};
        ctx.vm.disks[1].volumeId = kDataVolume;
        ASSERT_TRUE(owner.Cleaner().RegisterTemplate(VM_CLEANER_BACKUP, vm.guid, ami));
        ASSERT_TRUE(owner.SourceBridge()->SetTag(kWebServer, AmazonTags::kAMITag, ami, false));

        ASSERT_EQ(1, owner.PostBackupVM(ctx)) << row.what;
        CNMessageBase info("VirtualServer::VMReferencePointInfo");
        ASSERT_EQ(CNMessageBase::kOk, info.Deserialize(ctx.changeId)) << row.what;
        EXPECT_EQ(row.incremental ? "ami-full" : ami, info.GetString(1)) << row.what;
        EXPECT_EQ(ami, info.GetString(3)) << row.what;
        const auto disks = info.GetMessages(4);
        ASSERT_EQ(2u, disks.size()) << row.what;
        EXPECT_EQ(kDataVolume + snapshots[1], disks[1].GetString(1) + disks[1].GetString(2));
        EXPECT_TRUE(ctx.vm.amiId.empty()) << "the unmount must leave the new reference alone";

        const bool handedOn = !row.copy, marked = handedOn && row.incremental && !row.skipDelete;
        for (const auto& id : {ami, snapshots[0], snapshots[1]})
            EXPECT_EQ(handedOn, Tag(id, "Name") == kCbtName) << row.what << " " << id;
        EXPECT_EQ(std::make_pair(!handedOn, !handedOn), Marked(ami)) << row.what;
        EXPECT_EQ(std::make_pair(marked, marked), Marked(previous)) << row.what;
        EXPECT_TRUE(ImageLives(previous)) << row.what;
        owner.SourceBridge()->DeleteTag(kWebServer, AmazonTags::kAMITag, "", true);
    }
}

namespace {
// A bridge whose block lists come with the block size a test gives.
class BlockListBridge : public MockBridge {
public:
    MOCK_METHOD(bool, GetAllocatedBlockList,
                (const std::string&, const std::string&, VMInfoStructs::SDiskChangeInfo&, int&, long long&),
                (override));
    MOCK_METHOD(bool, GetChangedBlockList,
                (const std::string&, const std::string&, const std::string&, VMInfoStructs::SDiskChangeInfo&, int&,
                 long long&),
                (override));
    MOCK_METHOD(bool, GetAllocatedBlockPage,
                (const std::string&, const std::string&, int, VMInfoStructs::SDiskChangeInfo&, int&), (override));
    MOCK_METHOD(bool, GetChangedBlockPage,
                (const std::string&, const std::string&, const std::string&, int, VMInfoStructs::SDiskChangeInfo&,
                 int&),
                (override));
};

struct BlockListOwner {
    ::testing::NiceMock<BlockListBridge>* bridge = nullptr;
    CAmazonInfo owner{kAmazonInstanceType, [this] {
                          auto b = std::make_unique<::testing::NiceMock<BlockListBridge>>();
                          bridge = b.get();
                          return b;
                      }};
};
}  // namespace

// The job-start check must not cost a listing of the whole disk (thousands
// of calls on a 16 TiB one): one page of each list shows the APIs answer.
TEST(ChangeTrackingValidation, OnePageOfEachListIsAskedForAndEitherFailingFailsTheCheck) {
    using ::testing::_;
    TestEnv env;
    for (const bool changedFails : {false, true}) {
        BlockListOwner o;
        auto& bridge = *o.bridge;
        EXPECT_CALL(bridge, GetAllocatedBlockList(_, _, _, _, _)).Times(0);
        EXPECT_CALL(bridge, GetChangedBlockList(_, _, _, _, _, _)).Times(0);
        EXPECT_CALL(bridge, GetAllocatedBlockPage("snap-1", "us-east-1", ::testing::AllOf(::testing::Gt(0),
                                                                                          ::testing::Le(10000)), _, _))
            .WillOnce(::testing::Return(true));
        EXPECT_CALL(bridge, GetChangedBlockPage("snap-1", "snap-1", "us-east-1", ::testing::Le(10000), _, _))
            .WillOnce(::testing::Return(!changedFails));
        MountCtx ctx;
        ctx.vm.region = "us-east-1";
        ctx.vm.disks = {Disk("snap-1")};
        EXPECT_EQ(!changedFails, o.owner.ValidateCBT(ctx));
    }
}

// With a block size of 0 every extent would have length 0, and an
// incremental would succeed with its changes missing.
TEST(ChangeTrackingBlockSize, BlockListsWithABlockSizeOfZeroOrLessAreRefused) {
    using ::testing::_;
    TestEnv env;
    for (int blockSize : {0, -524288}) {
        BlockListOwner o;
        auto* bridge = o.bridge;
        CAmazonInfo& owner = o.owner;
        auto answer = [blockSize](VMInfoStructs::SDiskChangeInfo& info, int& size) {
            info.extents.resize(2);
            info.extents[1].blockIndex = 5;
            size = blockSize;
            return true;
        };
        ON_CALL(*bridge, GetAllocatedBlockList(_, _, _, _, _)).WillByDefault(::testing::WithArgs<2, 3>(answer));
        ON_CALL(*bridge, GetChangedBlockList(_, _, _, _, _, _)).WillByDefault(::testing::WithArgs<3, 4>(answer));
        VMInfoStructs::SDiskChangeInfo info;
        EXPECT_FALSE(owner.GetAllocatedBlocks("snap-1", "us-east-1a", info)) << blockSize;
        EXPECT_TRUE(info.extents.empty()) << blockSize;
        EXPECT_FALSE(owner.GetChangedBlocks("snap-0", "snap-1", "us-east-1a", info)) << blockSize;
        EXPECT_TRUE(info.extents.empty()) << blockSize;
    }
}
