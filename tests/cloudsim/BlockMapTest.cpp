// Block maps kept apart from the state document: copies share entries until
// one is written, and a folder cloud stores each map once, in a file of its
// own, which no longer committed state needs are removed.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "cloudsim/Cloud.h"
#include "framework/FileUtils.h"
#include "support/TestEnv.h"

using cloudsim::BlockMap;
using cloudsim::Cloud;
using cloudsim::kBlockSize;
using cloudsim::State;

namespace {

const char kVolume[] = "vol-0a1b2c3d4e5f6b002";    // 100 GiB: 204800 blocks
const char kSnapshot[] = "snap-0a1b2c3d4e5fb0003";  // of kVolume
constexpr int64_t kMany = 200000;

std::set<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    FwFile::ListDir(folder, names);
    return {names.begin(), names.end()};
}

int64_t FileSize(const std::string& path) {
    std::string text;
    return FwFile::ReadAll(path, text) ? static_cast<int64_t>(text.size()) : -1;
}

class MapFilesTest : public ::testing::Test {
protected:
    // kVolume and its snapshot hold kMany blocks repeating three contents.
    void SetUp() override {
        cloud = Cloud::OpenFolder(folder, AMAZON_DEMO_SEED);
        seededStateBytes = FileSize(folder + "/state.json");
        for (char c : std::string("abc")) {
            contents.push_back(std::string(kBlockSize, c));
            ids.push_back(cloud->Blocks().Put(contents.back().data(), contents.back().size()));
        }
        cloud->Write([&](State& s) {
            BlockMap::Entries entries;
            for (int64_t i = 0; i < kMany; ++i) entries.emplace_hint(entries.end(), i, ids[i % ids.size()]);
            s.volumes.at(kVolume).blocks = BlockMap(std::move(entries));
            s.snapshots.at(kSnapshot).blocks = s.volumes.at(kVolume).blocks;
        });
    }

    TestEnv env;
    std::string folder = FwFile::JoinPath(env.BaseDir(), "sim");
    std::string maps = folder + "/maps";
    std::shared_ptr<Cloud> cloud;
    int64_t seededStateBytes = 0;
    std::vector<std::string> contents, ids;
};

}  // namespace

TEST(BlockMapTest, CopiesShareEntriesUntilOneIsWritten) {
    BlockMap a;
    EXPECT_EQ(a.erase(3), 0u);
    EXPECT_TRUE(a.empty());
    a[1] = "one";
    BlockMap b = a;
    EXPECT_TRUE(a.Shares(b));
    b[2] = "two";
    EXPECT_FALSE(a.Shares(b));
    EXPECT_EQ(a.size(), 1u);
    EXPECT_EQ(b.size(), 2u);
    EXPECT_EQ(b.erase(2), 1u);
    EXPECT_EQ(a, b);   // equal entries, no longer shared
    EXPECT_FALSE(a.Shares(b));
    BlockMap c = a;
    c.erase(1);
    EXPECT_EQ(a.count(1), 1u);
    EXPECT_TRUE(c.empty());
}

TEST_F(MapFilesTest, TheStateDocumentDoesNotGrowWithTheBlocksAVolumeHolds) {
    // The seed's own small maps move out too, so the document only shrinks
    // or grows by a few names.
    EXPECT_LT(FileSize(folder + "/state.json"), seededStateBytes + 1024);
    // The volume and its snapshot share one file.
    int64_t stored = 0;
    for (const auto& name : Names(maps)) stored = std::max(stored, FileSize(maps + "/" + name));
    EXPECT_GT(stored, kMany * 32);

    auto other = Cloud::OpenFolder(folder, "");
    EXPECT_EQ(other->VolumeBlocks(kVolume).size(), static_cast<size_t>(kMany));
    EXPECT_EQ(other->SnapshotBlocks(kSnapshot).size(), static_cast<size_t>(kMany));
    for (int64_t index : {int64_t{0}, int64_t{1}, kMany - 1})
        EXPECT_EQ(other->ReadSnapshot(kSnapshot, index * kBlockSize, kBlockSize), contents[index % contents.size()])
            << index;
}

TEST_F(MapFilesTest, OnlyAMapThatChangedIsWrittenAndNoFileOutlivesItsLastState) {
    const auto before = Names(maps);
    cloud->Write([](State& s) { s.volumes.at(kVolume).tags["unrelated"] = "change"; });
    EXPECT_EQ(Names(maps), before);

    // The volume's map changes: a file of its own, while the snapshot keeps the old one.
    cloud->WriteVolume(kVolume, 5 * kBlockSize, std::string(kBlockSize, 'z'));
    const auto written = Names(maps);
    EXPECT_EQ(written.size(), before.size() + 1);
    auto other = Cloud::OpenFolder(folder, "");
    EXPECT_EQ(other->ReadVolume(kVolume, 5 * kBlockSize, 3), "zzz");
    EXPECT_EQ(other->ReadSnapshot(kSnapshot, 5 * kBlockSize, 3), std::string(3, contents[5 % 3][0]));

    // Once the snapshot lets go of it, the old file goes with the next commit.
    other->Write([](State& s) { s.snapshots.at(kSnapshot).blocks = BlockMap(); });
    EXPECT_EQ(Names(maps).size(), before.size());
    EXPECT_EQ(cloud->VolumeBlocks(kVolume).size(), static_cast<size_t>(kMany));
    EXPECT_TRUE(cloud->SnapshotBlocks(kSnapshot).empty());
}

TEST_F(MapFilesTest, FilesAKilledWriterLeftAreRemovedWhenTheFolderIsOpened) {
    const auto named = Names(maps);
    // What a writer leaves when killed after its map files, before its state.
    for (const char* stray : {"999-1.map", "999-2.map.tmp.1234"})
        ASSERT_TRUE(FwFile::WriteAllAtomic(maps + "/" + stray, "cloudsim-blockmap 1\n"));
    auto reopened = Cloud::OpenFolder(folder, "");
    EXPECT_EQ(Names(maps), named);
    EXPECT_EQ(reopened->VolumeBlocks(kVolume).size(), static_cast<size_t>(kMany));
}

TEST_F(MapFilesTest, AMapFileThatCannotBeReadFailsTheLoadWithItsPlace) {
    cloud.reset();
    for (const auto& name : Names(maps)) ASSERT_TRUE(FwFile::WriteAllAtomic(maps + "/" + name, "not a map"));
    try {
        Cloud::OpenFolder(folder, "");
        ADD_FAILURE() << "a damaged map file was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("blockMap"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("not a block map file"), std::string::npos) << e.what();
    }
}
