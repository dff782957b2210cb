// The snapshot manager's snap metadata XML and the framework's message XML
// files: what is written comes back, and hostile files are refused whole.
#include <gtest/gtest.h>

#include "framework/FileUtils.h"
#include "framework/KDPI.h"
#include "framework/SnapMessages.h"
#include "framework/VMSnapUtil.h"
#include "framework/XMLFile.h"
#include "support/TestEnv.h"

using VMInfoStructs::SDatastoreInfo;
using VMInfoStructs::SDisk;
using VMInfoStructs::SVMInfo;

namespace {
SVMInfo Instance(const std::string& id) {
    SVMInfo vm;
    vm.guid = id;
    vm.name = "web <&> \"one\"";
    vm.password = "hunter2-password";
    vm.vmJobId = 8589934597LL;
    SDisk d;
    d.volumeId = "vol-1";
    d.sectorSize = 4096;
    d.size = 21474836480LL;
    vm.disks.push_back(d);
    d.volumeId = "vol-2";
    d.filtered = true;
    vm.allDisks = {vm.disks[0], d};
    return vm;
}

SVolSnap Volume(const std::string& id, const SVMInfo& vm) {
    SVolSnap v;
    v.volumeId = id;
    v.datastore.guid = id;
    v.datastore.name = id + " name";
    v.datastore.region = "us-east-1";
    v.datastore.size = 8589934592LL;
    v.datastore.archiveFileId = 77;
    v.datastore.vms.push_back(vm);
    return v;
}

class SnapMetadataXmlTest : public ::testing::Test {
protected:
    void SetUp() override {
        ctx.snapJobId = 8589934597LL;
        ctx.snapMetadataFolder = FwFile::JoinPath(env.BaseDir(), "meta");
    }
    std::string Path() const { return FwFile::JoinPath(ctx.snapMetadataFolder, "backup_8589934597.xml"); }
    TestEnv env;
    MountCtx ctx;
    EvEvent event;
};

TEST_F(SnapMetadataXmlTest, WhatAJobWritesComesBackWithTagsMetadataAndErrorCodes) {
    CVMSnapUtil util(&event);
    const auto list = std::vector<SVolSnap>{Volume("vol-1", Instance("i-1")), Volume("vol-3", Instance("i-2"))};
    util.SetTagMap("vol-1", {{"Env", "a;b:c<d>"}});
    VMInfoStructs::SDiskMetadataInfo entry;
    entry.name = "AmazonTransientMetadata";
    entry.value = "appType:1;";
    util.SetAdditionalDiskMetadata("vol-3", {entry});
    ctx.snapVMs["i-2"].snapErrorCode = 65;
    ASSERT_EQ(util.GenerateMetadataXML(ctx, list[0].datastore, list), 1);
    const std::string text = TestEnv::ReadFile(Path());
    EXPECT_EQ(text.find("hunter2"), std::string::npos) << "an instance's password is never written";

    CVMSnapUtil reader(&event);
    std::vector<SDatastoreInfo> stores;
    ASSERT_TRUE(reader.ReadSnapMetadataXML(Path(), stores));
    ASSERT_EQ(stores.size(), 2u);
    EXPECT_EQ(stores[0].archiveFileId, 77u);
    ASSERT_EQ(stores[0].vms.size(), 1u);
    EXPECT_EQ(stores[0].vms[0].name, "web <&> \"one\"");
    EXPECT_EQ(stores[0].vms[0].vmJobId, 8589934597LL);
    EXPECT_EQ(stores[0].vms[0].allDisks.size(), 2u);
    EXPECT_EQ(stores[0].vms[0].disks[0].sectorSize, 4096u);
    EXPECT_EQ(stores[1].vms[0].snapErrorCode, 65);
    std::map<std::string, std::string> tags;
    ASSERT_TRUE(reader.GetTagMap("vol-1", tags));
    EXPECT_EQ(tags["Env"], "a;b:c<d>");
    std::vector<SVolSnap> rebuilt;
    ASSERT_TRUE(reader.UpdateVMList(rebuilt));
    EXPECT_EQ(rebuilt[1].volumeId, "vol-3");

    ctx.snapVMs["i-1"].snapErrorCode = 272;
    ASSERT_TRUE(util.PatchBackupXMLWithVMErrorCode(ctx, Path()));
    ASSERT_TRUE(reader.ReadSnapMetadataXML(Path(), stores));
    EXPECT_EQ(stores[0].vms[0].snapErrorCode, 272);
}

TEST_F(SnapMetadataXmlTest, HostileFilesAreRefusedAndLeaveTheListAlone) {
    CVMSnapUtil util(&event);
    const auto list = std::vector<SVolSnap>{Volume("vol-1", Instance("i-1"))};
    ASSERT_EQ(util.GenerateMetadataXML(ctx, list[0].datastore, list), 1);
    const std::string good = TestEnv::ReadFile(Path());
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string t = good;
        const size_t at = t.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? t : t.replace(at, from.size(), to);
    };
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"cut in half", good.substr(0, good.size() / 2)},
        {"not XML", "appType:1;subclientId:5;"},
        {"another version", replaced("version=\"1\"", "version=\"2\"")},
        {"a sector size of 1000", replaced("sectorSize=\"4096\"", "sectorSize=\"1000\"")},
        {"a size past 64 bits", replaced("size=\"8589934592\"", "size=\"99999999999999999999\"")},
        {"an archive file id that is no number", replaced("archiveFileId=\"77\"", "archiveFileId=\"7x\"")},
        {"a volume without id", replaced("guid=\"vol-1\"", "guid=\"\"")},
        {"an oversized value", replaced("name=\"vol-1 name\"", "name=\"" + std::string(5000, 'n') + "\"")},
        {"a catalogue", vsXMLFile::ToText(CNMessageBase(VirtualServer::VMSnapBackup::kType))},
    };
    for (const auto& [name, text] : cases) {
        const std::string path = FwFile::JoinPath(env.BaseDir(), "hostile.xml");
        ASSERT_TRUE(FwFile::WriteAllAtomic(path, text));
        std::vector<SDatastoreInfo> stores(1);
        stores[0].guid = "kept";
        EXPECT_FALSE(util.ReadSnapMetadataXML(path, stores)) << name;
        ASSERT_EQ(stores.size(), 1u) << name;
        EXPECT_EQ(stores[0].guid, "kept") << name;
    }
    std::vector<SDatastoreInfo> stores;
    EXPECT_FALSE(util.ReadSnapMetadataXML(FwFile::JoinPath(env.BaseDir(), "absent.xml"), stores));
}

TEST_F(SnapMetadataXmlTest, TheVMCentricFlowWritesTheInstancesOwnFile) {
    ctx.indexingV2 = true;
    ctx.requestedVMGuid = "i-1";
    CVMSnapUtil util(&event);
    const auto list = std::vector<SVolSnap>{Volume("vol-1", Instance("i-1"))};
    ASSERT_EQ(util.GenerateMetadataXML(ctx, list[0].datastore, list), 1);
    EXPECT_TRUE(FwFile::Exists(FwFile::JoinPath(ctx.snapMetadataFolder, "backup_8589934597_i-1.xml")));
    EXPECT_FALSE(FwFile::Exists(Path()));
    ctx.snapMetadataFolder.clear();
    EXPECT_EQ(util.GenerateMetadataXML(ctx, list[0].datastore, list), 0);
}

TEST(MessageXmlFileTest, MessagesRoundTripAndMalformedFilesAreRefused) {
    TestEnv env;
    CNMessageBase disk("VirtualServer.vmDisk");
    disk.SetString(3, "vol-<1>&\"2\"");
    CNMessageBase vm("VirtualServer.VMInfo");
    vm.SetString(1, "name ; with : separators");
    vm.AddMessage(14, disk);
    vm.AddMessage(14, disk);
    const std::string path = FwFile::JoinPath(env.BaseDir(), "m.xml");
    std::string error;
    ASSERT_TRUE(vsXMLFile::Save(path, vm, error)) << error;
    CNMessageBase back("VirtualServer.VMInfo");
    ASSERT_TRUE(vsXMLFile::Load(path, back, error)) << error;
    EXPECT_EQ(back.GetString(1), "name ; with : separators");
    ASSERT_EQ(back.GetMessages(14).size(), 2u);
    EXPECT_EQ(back.GetMessages(14)[1].GetString(3), "vol-<1>&\"2\"");

    CNMessageBase other("VirtualServer.Backup");
    EXPECT_FALSE(vsXMLFile::Load(path, other, error)) << "a message of another type";
    std::string deep = "<vsXML format=\"vsXMLFile\" version=\"1\">";
    for (int i = 0; i < 40; ++i) deep += "<message type=\"t\"><list n=\"1\">";
    deep += "<message type=\"t\"/>";
    for (int i = 0; i < 40; ++i) deep += "</list></message>";
    deep += "</vsXML>";
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"two fields of one number", "<vsXML format=\"vsXMLFile\" version=\"1\"><message type=\"t\">"
                                     "<field n=\"1\">a</field><field n=\"1\">b</field></message></vsXML>"},
        {"a field number that is no number", "<vsXML format=\"vsXMLFile\" version=\"1\"><message type=\"t\">"
                                             "<field n=\"1x\">a</field></message></vsXML>"},
        {"a negative field number", "<vsXML format=\"vsXMLFile\" version=\"1\"><message type=\"t\">"
                                    "<field n=\"-1\">a</field></message></vsXML>"},
        {"another format", "<vsXML format=\"other\" version=\"1\"><message type=\"t\"/></vsXML>"},
        {"cut", vsXMLFile::ToText(vm).substr(0, 60)},
        {"nested too deep", deep},
    };
    for (const auto& [name, text] : cases) {
        CNMessageBase m;
        EXPECT_FALSE(vsXMLFile::FromText(text, m, error)) << name;
        EXPECT_TRUE(m.FieldNumbers().empty()) << name;
    }
}
}  // namespace
