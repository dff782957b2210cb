// The disk filter slots, the instance configuration file and the items the
// framework backs up.
#include "MountFixture.h"
#include "framework/FileUtils.h"
#include "framework/PathMatch.h"
#include "framework/VMConfigFile.h"

using namespace mount;

namespace {
VMInfoStructs::SDisk Disk(const std::string& display, const std::string& device, bool os = false) {
    VMInfoStructs::SDisk d;
    d.name = d.displayName = display;
    d.deviceName = device;
    d.isOSDisk = os;
    return d;
}
}  // namespace

TEST_F(MountFixture, PatternDeviceAndTypeFiltersMatchAsTheUserWroteThem) {
    auto object = Connected();
    const auto data = Disk("web-data", "/dev/sdf"), root = Disk("root", "/dev/xvda", true);
    EXPECT_TRUE(object->IsDiskFilteredByPattern(data, "web-*"));
    EXPECT_TRUE(object->IsDiskFilteredByPattern(data, "web?data"));
    EXPECT_FALSE(object->IsDiskFilteredByPattern(data, "Web-*"));
    EXPECT_FALSE(object->IsDiskFilteredByPattern(data, "web"));
    EXPECT_TRUE(object->IsDiskFilteredByVirtualDeviceNode(data, "  /dev/sd?\t"));
    EXPECT_FALSE(object->IsDiskFilteredByVirtualDeviceNode(data, "*sdf"));   // '*' stays within a part
    EXPECT_TRUE(object->IsDiskFilteredByVirtualDeviceNode(data, "**sdf"));
    EXPECT_TRUE(object->IsDiskFilteredByType(root, SDiskFilterRule::TypeRoot));
    EXPECT_FALSE(object->IsDiskFilteredByType(data, SDiskFilterRule::TypeRoot));
    EXPECT_FALSE(object->IsDiskFilteredByType(root, 7));

    CPathMatch folder("/", false);
    ASSERT_TRUE(folder.Init("/DEV/xvd*", false, false));
    EXPECT_TRUE(folder.Match("/dev/xvdb/part1"));
    CPathMatch leaf("/", true);
    ASSERT_TRUE(leaf.Init("sd?", true, true));
    EXPECT_TRUE(leaf.Match("/dev/sdf"));
}

TEST_F(MountFixture, TagFilterNeedsOneTagWhoseKeyAndValueBothMatch) {
    auto object = Connected();
    ASSERT_TRUE(object->SourceBridge()->SetTag(kWebData, "Backup", "no", true));
    VMInfoStructs::SDisk disk = Disk("web-data", "/dev/sdf");
    disk.volumeId = kWebData;
    disk.zone = "us-east-1a";
    EXPECT_TRUE(object->IsDiskFilteredByTag(disk, "name", "WEB-*"));
    EXPECT_FALSE(object->IsDiskFilteredByTag(disk, "Name", "db*"));
    EXPECT_TRUE(object->IsDiskFilteredByTag(disk, "*", "no"));   // Name's value fails, Backup's matches
    EXPECT_FALSE(object->IsDiskFilteredByTag(disk, "Backup", ""));
    disk.volumeId = "vol-00000000000000bad";
    EXPECT_FALSE(object->IsDiskFilteredByTag(disk, "*", "*"));
}

TEST_F(MountFixture, ConfigFileKeepsTheInstanceAndItsTagsButNoPassword) {
    auto object = Connected();
    MountCtx ctx = Job(kWeb);
    WithVM(*object, ctx);
    ctx.vm.password = "s3cret-Pa55";
    ASSERT_TRUE(object->SaveVMConfigFile(ctx.mountPath, ctx.vm));
    const std::string path = ctx.mountPath + "/" + kWeb + "_InstanceConfig.xml";
    EXPECT_EQ(std::string::npos, TestEnv::ReadFile(path).find("s3cret-Pa55"));

    VMConfigFile document;
    VMInfoStructs::SVMInfo loaded;
    ASSERT_TRUE(document.Load(path, loaded));
    EXPECT_EQ(kWeb, loaded.guid);
    EXPECT_EQ("web-server-01", loaded.name);
    EXPECT_EQ(ctx.vm.instanceType, loaded.instanceType);
    ASSERT_EQ(2u, loaded.disks.size());
    EXPECT_EQ(kWebData, loaded.disks[1].volumeId);
    EXPECT_EQ("/dev/sdf", loaded.disks[1].deviceName);
    EXPECT_TRUE(loaded.disks[0].isOSDisk);
    EXPECT_EQ(ctx.vm.networkCards.at(0).subnetId, loaded.networkCards.at(0).subnetId);
    EXPECT_EQ("demo-linux-key", loaded.keyPairs.at(0).name);
    EXPECT_EQ("Production#Staging", document.GetTags().at("Environment"));
    EXPECT_EQ(3u, document.GetTags().size());

    ASSERT_TRUE(FwFile::WriteAllAtomic(path, "{\"format\": \"other\"}"));
    EXPECT_FALSE(document.Load(path, loaded));
    EXPECT_EQ(kWeb, loaded.guid);

    // Without the tags the file would restore an untagged instance.
    FwFile::RemoveFile(path);
    cloud->AddFault({"GetTagList", 0, "RequestLimitExceeded: Request limit exceeded."});
    EXPECT_FALSE(object->SaveVMConfigFile(ctx.mountPath, ctx.vm));
    EXPECT_FALSE(FwFile::Exists(path));
}

TEST_F(MountFixture, FullMountInfoListsTheKeptDisksAndTheConfigFile) {
    auto object = Connected();
    MountCtx ctx = Job(kWeb);
    WithVM(*object, ctx);
    std::vector<VMInfoStructs::SMountInfoFull> items;
    EXPECT_EQ(0, object->GetFullMountInfo(ctx, items));   // no configuration file yet

    ASSERT_TRUE(object->SaveVMConfigFile(ctx.mountPath, ctx.vm));
    ctx.vm.disks[0].displayName.clear();
    ctx.vm.disks.push_back(ctx.vm.disks[1]);
    ctx.vm.disks.back().filtered = true;
    items.clear();
    ASSERT_EQ(1, object->GetFullMountInfo(ctx, items));
    ASSERT_EQ(3u, items.size());
    const auto& root = items[0].disks.at(0);
    EXPECT_EQ(1, items[0].kind);
    EXPECT_EQ(kWebRoot, root.itemId);
    EXPECT_EQ(kWebRoot, root.itemName);   // no display name
    EXPECT_EQ(27, root.typeCode);
    EXPECT_EQ(8LL << 30, root.capacity);
    EXPECT_EQ(root.capacity, root.allocatedCapacity);
    EXPECT_TRUE(root.isOSDisk);
    const auto& file = items[2].disks.at(0);
    EXPECT_EQ(0, items[2].kind);
    EXPECT_EQ(ctx.mountPath + "/" + kWeb + "_InstanceConfig.xml", file.name);
    EXPECT_EQ(std::string(kWeb) + "_InstanceConfig.xml", file.itemName);
    EXPECT_EQ(4u, file.attributes);
    EXPECT_EQ(FwFile::FileSize(file.name), file.capacity);
}
