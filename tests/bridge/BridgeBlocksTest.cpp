// The bridge's block operations against the demo cloud: direct reads at any
// alignment, block lists with tokens, changed blocks within a lineage,
// access preparation, permission and Marketplace checks, disk metadata and
// zone look-ups.
#include <set>

#include "BridgeFixture.h"
#include "cloudsim/BlockToken.h"
#include "cloudsim/SeedData.h"

using cloudsim::kBlockSize;
using cloudsim::State;

namespace {

const char kWebRootSnap[] = "snap-0a1b2c3d4e5fb0001";  // blocks 0 1 2 3 2048 16383 of 8 GiB
const char kWebRootText[] = "web-server-01 root";
const char kLinuxSnap[] = "snap-0c55b159cbfafe1f0";   // public, blocks 0-3

std::string Block(int64_t index) { return cloudsim::SeedBlock(kWebRootText, index); }

class BridgeBlocksTest : public BridgeFixture {
protected:
    // The bytes ReadFromSnapshot gives; "error: ..." when it fails.
    std::string Read(const std::string& snap, long long offset, long long length) {
        std::string out(static_cast<size_t>(length), '\x55');
        if (!bridge.ReadFromSnapshot(snap, "", offset, length, reinterpret_cast<unsigned char*>(&out[0])))
            return "error: " + bridge.GetLastErrorString();
        return out;
    }
    std::vector<CAmazonSDKBridge::SAwsEbsBlockInfo> Listing(const std::string& snap,
                                                            const std::string& region = "us-east-1") {
        int blockSize = 0;
        std::vector<CAmazonSDKBridge::SAwsEbsBlockInfo> blocks;
        EXPECT_TRUE(bridge.GetDirectSnapshotAccessInfo(snap, region, blockSize, blocks))
            << bridge.GetLastErrorString();
        EXPECT_EQ(blockSize, 524288);
        return blocks;
    }
};

}  // namespace

TEST_F(BridgeBlocksTest, ReadFromSnapshotAtAnyAlignment) {
    // Across the end of allocated block 3 into unallocated block 4.
    EXPECT_EQ(Read(kWebRootSnap, 4 * kBlockSize - 1003, 5000), Block(3).substr(kBlockSize - 1003) + std::string(3997, '\0'));
    // From the middle of block 0 over all of block 1 into block 2.
    const int64_t start = kBlockSize / 2 + 1;
    EXPECT_EQ(Read(kWebRootSnap, start, 2 * kBlockSize), Block(0).substr(start) + Block(1) + Block(2).substr(0, start));
    // The very last byte, and one more.
    const int64_t size = 8 * demo::kGiB;
    EXPECT_EQ(Read(kWebRootSnap, size - 1, 1), Block(16383).substr(kBlockSize - 1));
    EXPECT_EQ(Read(kWebRootSnap, size - 1, 2).find("error: ValidationException: "), 0u);
    // Only the account's own snapshots are served: a public one is refused,
    // another account's private one does not exist for the caller.
    EXPECT_EQ(Read(kLinuxSnap, 0, 9).find("error: AccessDeniedException: "), 0u) << Read(kLinuxSnap, 0, 9);
    ConnectAdmin();
    unsigned char byte = 0;
    EXPECT_FALSE(admin.ReadFromSnapshot(kWebRootSnap, "", 0, 1, &byte));
    EXPECT_EQ(admin.GetLastErrorString().find("InvalidSnapshot.NotFound"), 0u) << admin.GetLastErrorString();

    std::string pending;
    ASSERT_TRUE(bridge.CreateSnapshot(demo::kWebData, "", "", pending, false));
    EXPECT_EQ(Read(pending, 0, 4), "error: IncorrectState: Snapshot " + pending + " is not completed");
    EXPECT_FALSE(bridge.FillSnapshotAccessInfo(pending, ""));
    Advance(Timing().snapshotMs);
    EXPECT_EQ(Read(pending, 0, 4), "web-");
}

TEST_F(BridgeBlocksTest, DirectAccessListsAllocatedBlocksWithStableTokens) {
    auto blocks = Listing(kWebRootSnap);
    std::vector<long long> indexes;
    std::set<std::string> tokens;
    bool urlUnsafe = false, padded = false;
    for (const auto& b : blocks) {
        indexes.push_back(b.blockIndex);
        tokens.insert(b.blockToken);
        EXPECT_EQ(b.blockToken.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
                  std::string::npos)
            << b.blockToken;
        EXPECT_EQ(b.blockToken.size() % 4, 0u) << b.blockToken;
        urlUnsafe |= b.blockToken.find_first_of("+/") != std::string::npos;
        padded |= b.blockToken.back() == '=';
        EXPECT_EQ(cloudsim::BlockTokenIssuedMs(b.blockToken, kWebRootSnap, b.blockIndex), FwClock::NowMs());
        EXPECT_EQ(b.expiryMs, FwClock::NowMs() + cloudsim::kBlockTokenLifetimeMs);
    }
    EXPECT_EQ(indexes, (std::vector<long long>{0, 1, 2, 3, 2048, 16383}));
    EXPECT_EQ(tokens.size(), blocks.size());
    EXPECT_TRUE(urlUnsafe) << "tokens must exercise URL encoding";
    EXPECT_TRUE(padded) << "tokens must exercise the encoding of base64 padding";
    // Tokens name their block and the time they were issued.
    auto again = Listing(kWebRootSnap);
    ASSERT_EQ(again.size(), blocks.size());
    EXPECT_EQ(again.front().blockToken, blocks.front().blockToken);
    EXPECT_EQ(cloudsim::BlockTokenIssuedMs(blocks[0].blockToken, kWebRootSnap, 1), -1);
    Advance(1000);
    EXPECT_NE(Listing(kWebRootSnap).front().blockToken, blocks.front().blockToken);
    // Twins holding the same data still hand out their own tokens.
    std::string twins[2];
    for (auto& twin : twins) ASSERT_TRUE(bridge.CreateSnapshot(demo::kWebData, "", "", twin, false));
    Advance(Timing().snapshotMs);
    EXPECT_NE(Listing(twins[0]).front().blockToken, Listing(twins[1]).front().blockToken);

    EXPECT_TRUE(bridge.FillSnapshotAccessInfo(kWebRootSnap, "us-east-1")) << bridge.GetLastErrorString();
    EXPECT_TRUE(bridge.ClearSnapshotAccessInfo(kWebRootSnap));
    EXPECT_FALSE(bridge.ClearSnapshotAccessInfo(kWebRootSnap));
    EXPECT_FALSE(bridge.FillSnapshotAccessInfo("snap-0000000000000dead", ""));
}

TEST_F(BridgeBlocksTest, ChangedBlocksAreListedOnlyWithinOneVolumeLineage) {
    auto snapshot = [&](const std::string& volume) {
        std::string id;
        EXPECT_TRUE(bridge.CreateSnapshot(volume, "", "", id, false)) << bridge.GetLastErrorString();
        Advance(Timing().snapshotMs);
        return id;
    };
    // Every changed block, or (with a page size) the first page of them.
    auto changes = [&](const std::string& previous, const std::string& current, int page = -1) {
        VMInfoStructs::SDiskChangeInfo info;
        int blockSize = 0;
        long long unused = 0;
        if (page < 0 ? !bridge.GetChangedBlockList(previous, current, "", info, blockSize, unused)
                     : !bridge.GetChangedBlockPage(previous, current, "", page, info, blockSize))
            return "error: " + bridge.GetLastErrorString();
        std::string indexes;
        for (const auto& extent : info.extents) indexes += std::to_string(extent.blockIndex) + " ";
        return indexes;
    };
    const std::string earlier = snapshot(demo::kWebData);
    // A volume restored from the earlier snapshot, changed, snapshotted and
    // deleted: its snapshot still compares with the earlier one.
    std::string restored;
    ASSERT_TRUE(bridge.CreateVolume(earlier, "us-east-1a", "", "", 0, 0, false, "", restored, {}, false, ""))
        << bridge.GetLastErrorString();
    Advance(Timing().volumeCreateMs);
    cloud->WriteVolume(restored, 7 * kBlockSize, std::string(kBlockSize, 'r'));
    const std::string later = snapshot(restored);
    ASSERT_TRUE(bridge.DeleteVolume(restored, false)) << bridge.GetLastErrorString();
    Advance(Timing().deleteMs);
    EXPECT_EQ(changes(earlier, later), "7 ");
    cloud->WriteVolume(demo::kWebData, 3 * kBlockSize, std::string(kBlockSize, 'x'));
    cloud->WriteVolume(demo::kWebData, 9 * kBlockSize, std::string(kBlockSize, 'x'));
    const std::string next = snapshot(demo::kWebData);
    EXPECT_EQ(changes(earlier, next), "3 9 ");
    EXPECT_EQ(changes(earlier, next, 1), "3 ") << "one page";
    EXPECT_EQ(changes(earlier, next, 0), "3 9 ") << "a page as large as AWS gives";
    // A first page of the allocated blocks, from the first.
    VMInfoStructs::SDiskChangeInfo page;
    int blockSize = 0;
    ASSERT_TRUE(bridge.GetAllocatedBlockPage(kWebRootSnap, "", 4, page, blockSize)) << bridge.GetLastErrorString();
    ASSERT_EQ(page.extents.size(), 4u);
    EXPECT_EQ(page.extents.back().blockIndex, 3);
    // Another volume's snapshot is of another lineage, though the bridge sees both.
    const std::string unrelated = snapshot("vol-0a1b2c3d4e5f6a001");
    EXPECT_EQ(changes(earlier, unrelated).find("error: ValidationException: "), 0u) << changes(earlier, unrelated);
}

TEST_F(BridgeBlocksTest, PermissionsMarketplaceMetadataAndZones) {
    const std::vector<std::string> direct = {"ebs:ListSnapshotBlocks", "ebs:GetSnapshotBlock"};
    bool allowed = false;
    ASSERT_TRUE(bridge.CheckPermissions(direct, allowed));
    EXPECT_TRUE(allowed);
    cloud->AddFault({"CheckPermissions", 1, "", 0, "error", "ebs:GetSnapshotBlock"});
    ASSERT_TRUE(bridge.CheckPermissions(direct, allowed));
    EXPECT_FALSE(allowed);
    cloud->Write([](State& s) { s.accounts[0].deniedActions = {"EBS:*"}; });
    ASSERT_TRUE(bridge.CheckPermissions({"ec2:DescribeVolumes"}, allowed));
    EXPECT_TRUE(allowed);
    ASSERT_TRUE(bridge.CheckPermissions({"ebs:ListSnapshotBlocks"}, allowed));
    EXPECT_FALSE(allowed);

    cloud->Write([](State& s) { s.volumes.at(demo::kWebData).productCodes = {"aw0evgkw8e5c1q413zgy5pjce"}; });
    EXPECT_TRUE(bridge.IsMarketPlaceVolume(demo::kWebData, "us-east-1"));
    EXPECT_FALSE(bridge.IsMarketPlaceVolume("vol-0a1b2c3d4e5f6a001", ""));
    EXPECT_FALSE(bridge.IsMarketPlaceVolume("vol-0000000000000dead", ""));
    EXPECT_EQ(bridge.GetLastErrorString().find("InvalidVolume.NotFound"), 0u) << bridge.GetLastErrorString();

    std::vector<VMInfoStructs::SDiskMetadataInfo> metadata;
    ASSERT_TRUE(bridge.GetDiskMetadata("vol-0a1b2c3d4e5f6b002", "", metadata)) << bridge.GetLastErrorString();
    std::map<std::string, std::string> byName;
    for (const auto& m : metadata) byName[m.name] = m.value;
    EXPECT_EQ(byName, (std::map<std::string, std::string>{
                          {"VolumeType", "io1"},
                          {"Size", "100"},
                          {"Iops", "5000"},
                          {"Encrypted", "true"},
                          {"KmsKeyId", "arn:aws:kms:us-east-1:111122223333:key/1a2b3c4d-5e6f-4a7b-8c9d-0e1f2a3b4c5d"},
                          {"State", "in-use"},
                          {"AvailabilityZone", "us-east-1b"}}));

    EXPECT_EQ(bridge.GetRegionFromZone("us-west-2b"), "us-west-2");
    EXPECT_EQ(bridge.GetRegionFromZone("eu-west-9a"), "");
    EXPECT_NE(bridge.GetLastErrorString().find("eu-west-9a"), std::string::npos);
}
