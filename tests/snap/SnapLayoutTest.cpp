// Where a snap backup's metadata lives, and which instance owns each volume.
#include <gtest/gtest.h>

#include "snap/SnapInstanceMap.h"
#include "snap/SnapMetadataPaths.h"

using VMInfoStructs::SDatastoreInfo;
using VMInfoStructs::SVMInfo;

namespace {
SVMInfo Vm(const std::string& id, const std::string& name = "web") {
    SVMInfo vm;
    vm.guid = id;
    vm.name = name;
    vm.disks.resize(1);
    vm.allDisks.resize(2);
    return vm;
}

TEST(SnapMetadataPathsTest, FoldersAndNamesKeepTheWhole64BitId) {
    MountCtx ctx;
    ctx.jobResultsFolder = "/jr";
    ctx.jobId = 4294967297LL;
    ctx.snapJobId = 8589934597LL;
    ctx.requestedVMGuid = "i-1";
    EXPECT_EQ(SnapMetadataPaths::SnapJobFolder(ctx), "/jr/Metadata/8589934597");
    EXPECT_EQ(SnapMetadataPaths::JobLevelFileName(ctx), "backup_8589934597.xml");
    EXPECT_EQ(SnapMetadataPaths::JobSnapMetadataFile(ctx), "/jr/Metadata/8589934597/backup_8589934597.xml");
    EXPECT_EQ(SnapMetadataPaths::CatalogFile(ctx), "/jr/backup_4294967297.xml");
    std::string name, folder;
    ASSERT_TRUE(SnapMetadataPaths::VMLevelFileName(ctx, name));
    EXPECT_EQ(name, "backup_8589934597_i-1.xml");
    ASSERT_TRUE(SnapMetadataPaths::VMFolder(ctx, "i-2", folder));
    EXPECT_EQ(folder, "/jr/Metadata/8589934597/i-2");
    for (const char* bad : {"", "..", ".", "i-1/../../etc", "i-1\n"}) {
        EXPECT_FALSE(SnapMetadataPaths::VMFolder(ctx, bad, folder)) << bad;
        EXPECT_TRUE(folder.empty());
        ctx.requestedVMGuid = bad;
        EXPECT_FALSE(SnapMetadataPaths::VMLevelFileName(ctx, name)) << bad;
    }
    ctx.snapMetadataFolder = "/given";
    ASSERT_TRUE(SnapMetadataPaths::VMFolder(ctx, "i-9", folder));
    EXPECT_EQ(folder, "/given") << "a folder the context names is the instance's, whatever the instance";
}

TEST(SnapInstanceMapTest, AnInstanceAddedTwiceIsListedOnce) {
    SDatastoreInfo ds;
    ds.guid = "vol-1";
    SnapInstanceMap::AppendInstanceOnce(ds, Vm("i-1", "before"));
    SnapInstanceMap::AppendInstanceOnce(ds, Vm("i-1", "after"));
    ASSERT_EQ(ds.vms.size(), 1u);
    EXPECT_EQ(ds.vms[0].name, "after");
    std::map<std::string, SVMInfo> map;
    SnapInstanceMap::Problem problem;
    ds.vms.push_back(Vm("i-1"));   // a metadata file written with the duplicate
    ASSERT_TRUE(SnapInstanceMap::PopulateFromDatastores({ds}, map, problem)) << problem.volumeId;
    ASSERT_EQ(map.count("i-1"), 1u);
    EXPECT_EQ(map["i-1"].disks.size(), 2u) << "the complete disk list";
}

TEST(SnapInstanceMapTest, AVolumeOfNoneOrTwoInstancesFailsAndMapsNothing) {
    SDatastoreInfo first, shared, orphan;
    first.guid = "vol-0";
    first.vms = {Vm("i-0")};
    shared.guid = "vol-1";
    shared.vms = {Vm("i-1"), Vm("i-2")};
    orphan.guid = "vol-2";
    std::map<std::string, SVMInfo> map;
    SnapInstanceMap::Problem problem;
    EXPECT_FALSE(SnapInstanceMap::PopulateFromDatastores({first, shared}, map, problem));
    EXPECT_EQ(problem.kind, SnapInstanceMap::Problem::kSeveralInstances);
    EXPECT_EQ(problem.volumeId, "vol-1");
    EXPECT_FALSE(SnapInstanceMap::PopulateFromDatastores({first, orphan}, map, problem));
    EXPECT_EQ(problem.kind, SnapInstanceMap::Problem::kNoInstance);
    EXPECT_EQ(problem.volumeId, "vol-2");
    EXPECT_TRUE(map.empty());

    map["i-0"] = Vm("i-0", "known");
    SDatastoreInfo second = first;
    second.guid = "vol-3";
    second.vms[0].name = "later";
    ASSERT_TRUE(SnapInstanceMap::PopulateFromDatastores({first, second}, map, problem));
    EXPECT_EQ(map["i-0"].name, "known") << "the record first seen is kept";
}
}  // namespace
