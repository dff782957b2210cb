// What a replication cycle writes, from the points' manifests alone: the
// content a point holds after the chain's incrementals, and the blocks that
// differ between two points; and the replica file that carries a replica
// from one cycle to the next.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/FileUtils.h"
#include "host/BackupChain.h"
#include "host/PointManifest.h"
#include "host/ReplicaState.h"
#include "support/TestEnv.h"

namespace {
constexpr uint64_t kDisk = 8 * kImageBlock;
const char kRoot[] = "vol-0fedcba987654b001";
const char kData[] = "vol-0fedcba987654b002";

ManifestDisk Disk(const char* volume, std::map<uint64_t, std::string> sums, std::vector<ByteRange> extents = {},
                  bool incremental = false, uint64_t size = kDisk) {
    ManifestDisk d;
    d.volumeId = volume;
    d.image = std::string(volume) + ".img";
    d.size = size;
    d.incremental = incremental;
    d.extents = std::move(extents);
    d.blockSha256 = std::move(sums);
    return d;
}

// Publishes a point of the given disks into the chain.
void AddPoint(BackupChain& chain, int level, const std::string& ami, std::vector<ManifestDisk> disks) {
    std::string partial, why;
    ASSERT_TRUE(chain.BeginPoint(partial, why)) << why;
    PointManifest m;
    m.instance = "i-0fedcba9876540002";
    m.ami = ami;
    m.level = level;
    m.disks = std::move(disks);
    ASSERT_TRUE(SaveManifest(partial + "/manifest.json", m, why)) << why;
    ASSERT_TRUE(chain.PublishPoint(partial, level, "change-" + ami, why)) << why;
}

PointContent Content(const BackupChain& chain, int point) {
    PointContent c;
    std::string why;
    EXPECT_TRUE(ReadPointContent(chain, point, c, why)) << why;
    return c;
}
}  // namespace

// Point 1 full; point 2 edits block 1, zeroes block 2 (an extent without a
// sum) and allocates block 5 of the root; point 3 reads the data disk whole
// again (its reference was gone) with one block changed and the disk grown.
TEST(ReplicaBlocks, ThePointsContentFollowsTheIncrementalsAndTheDifferenceIsWhatChanged) {
    TestEnv env;
    BackupChain chain(env.BaseDir() + "/chain");
    ASSERT_TRUE(FwFile::MakeDirs(chain.Folder()));
    AddPoint(chain, 1, "ami-1", {Disk(kRoot, {{0, "a0"}, {1, "a1"}, {2, "a2"}}), Disk(kData, {{3, "d3"}, {4, "d4"}})});
    AddPoint(chain, 2, "ami-2",
             {Disk(kRoot, {{1, "b1"}, {5, "b5"}}, {{kImageBlock, 2 * kImageBlock}, {5 * kImageBlock, 100}}, true),
              Disk(kData, {}, {}, true)});
    AddPoint(chain, 2, "ami-3", {Disk(kRoot, {}, {}, true), Disk(kData, {{3, "d3"}, {9, "e9"}}, {}, false, 10 * kImageBlock)});
    if (HasFatalFailure()) return;

    const PointContent p1 = Content(chain, 1), p2 = Content(chain, 2), p3 = Content(chain, 3);
    EXPECT_EQ("ami-2", p2.ami);
    EXPECT_EQ((std::map<uint64_t, std::string>{{0, "a0"}, {1, "b1"}, {5, "b5"}}), p2.disks.at(kRoot).sums);
    EXPECT_EQ(p1.disks.at(kData).sums, p2.disks.at(kData).sums) << "an empty incremental changes nothing";
    EXPECT_EQ((std::map<uint64_t, std::string>{{3, "d3"}, {9, "e9"}}), p3.disks.at(kData).sums)
        << "a whole-disk image replaces what the chain held";

    // A first cycle writes every block with data; later ones what differs,
    // a block that became zeros included.
    EXPECT_EQ((std::vector<uint64_t>{0, 1, 2}), ChangedBlocks(nullptr, p1.disks.at(kRoot)));
    EXPECT_EQ((std::vector<uint64_t>{1, 2, 5}), ChangedBlocks(&p1.disks.at(kRoot), p2.disks.at(kRoot)));
    EXPECT_TRUE(ChangedBlocks(&p2.disks.at(kRoot), p3.disks.at(kRoot)).empty());
    EXPECT_EQ((std::vector<uint64_t>{4, 9}), ChangedBlocks(&p1.disks.at(kData), p3.disks.at(kData)));
    // Two cycles apart: the edits of both points at once.
    EXPECT_EQ((std::vector<uint64_t>{1, 2, 5}), ChangedBlocks(&p1.disks.at(kRoot), p3.disks.at(kRoot)));

    PointContent none;
    std::string why;
    EXPECT_FALSE(ReadPointContent(chain, 4, none, why));
    EXPECT_NE(std::string::npos, why.find("has no point 4")) << why;
}

// A disk that shrank: what lay past its new end is not the disk's any more.
TEST(ReplicaBlocks, BlocksPastADisksEndAreNotItsChanges) {
    PointDiskBlocks before{kDisk, {{1, "x"}, {7, "y"}}};
    const PointDiskBlocks after{4 * kImageBlock, {{1, "x"}}};
    EXPECT_TRUE(ChangedBlocks(&before, after).empty());
    before.sums[2] = "z";
    EXPECT_EQ(std::vector<uint64_t>{2}, ChangedBlocks(&before, after));
}

TEST(ReplicaFile, ItCarriesTheReplicaAndRefusesWhatItCannotUse) {
    TestEnv env;
    const std::string path = ReplicaStatePath(env.BaseDir());
    ReplicaState state;
    std::string why;
    ASSERT_TRUE(LoadReplicaState(path, state, why)) << "no file: no replica yet";
    EXPECT_TRUE(state.replica.empty());

    state.instance = "i-0fedcba9876540002";
    state.replica = "i-0123456789abcdef0";
    state.integrityAmi = "ami-0123456789abcdef0";
    state.name = "replica";
    state.zone = "us-east-1c";
    state.account = "admin";
    state.point = 2;
    state.pointAmi = "ami-0aaaaaaaaaaaaaaaa";
    state.disks = {{kRoot, "snap-0123456789abcdef0", "vol-0123456789abcdef0"}};
    ASSERT_TRUE(SaveReplicaState(path, state, why)) << why;
    ReplicaState read;
    ASSERT_TRUE(LoadReplicaState(path, read, why)) << why;
    EXPECT_EQ(state.replica, read.replica);
    EXPECT_EQ(2, read.point);
    ASSERT_EQ(1u, read.disks.size());
    EXPECT_EQ("snap-0123456789abcdef0", read.disks[0].snapshotId);

    const struct {
        const char* text;
        const char* reason;
    } bad[] = {
        {R"({"format": "BackupChain", "version": 1})", "not a Replica file"},
        {R"({"format": "Replica", "version": 2})", "this host reads version 1 only"},
        {R"({"format": "Replica", "version": 1, "instance": "i-1"})", "replica.json: "},
        {R"({"format": "Replica", "version": 1, "instance": "i-1", "replica": "--all", "integrityAmi": "", "name": "",
             "zone": "", "account": "admin", "point": 1, "pointAmi": "", "disks": []})",
         "is not an instance id"},
    };
    for (const auto& b : bad) {
        ASSERT_TRUE(FwFile::WriteAllAtomic(path, b.text));
        EXPECT_FALSE(LoadReplicaState(path, read, why)) << b.text;
        EXPECT_NE(std::string::npos, why.find(b.reason)) << b.text << "\n" << why;
        EXPECT_TRUE(read.replica.empty()) << "nothing of a refused file is taken";
    }
}
