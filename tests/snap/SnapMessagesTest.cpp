// The VM-centric catalogue and the live-browse mount hand-over: written,
// read back, and hostile texts refused.
#include <gtest/gtest.h>

#include "framework/FileUtils.h"
#include "framework/MessageBase.h"
#include "framework/SnapMessages.h"
#include "framework/XMLFile.h"
#include "snap/SnapBackupCatalog.h"
#include "snap/SnapMountMessage.h"
#include "support/TestEnv.h"

using VMInfoStructs::SVMInfo;

namespace {
SVMInfo Vm(const std::string& id) {
    SVMInfo vm;
    vm.guid = id;
    vm.name = "name of " + id;
    vm.zone = "us-east-1a";
    vm.region = "us-east-1";
    vm.guestOSId = 12;
    vm.vmJobId = 8589934597LL;
    vm.vmAppId = 4294967296LL;
    vm.clientId = 3;
    vm.totalDiskSize = 21474836480ULL;
    vm.archiveFileId = "77";
    VMInfoStructs::SDisk d;
    d.volumeId = "vol-" + id;
    d.size = 21474836480LL;
    d.isOSDisk = true;
    vm.disks.push_back(d);
    return vm;
}

TEST(SnapBackupCatalogTest, InstancesComeBackInIdOrderWithTheirIds) {
    TestEnv env;
    SnapBackupCatalog::Catalog catalog;
    catalog.jobId = 8589934599LL;
    catalog.vmLevelMetadata = true;
    catalog.vms = {Vm("i-2"), Vm("i-1")};
    const std::string path = FwFile::JoinPath(env.BaseDir(), "backup_8589934599.xml");
    std::vector<SnapBackupCatalog::IndexFailure> warnings;
    std::string error;
    ASSERT_TRUE(SnapBackupCatalog::Save(path, catalog, warnings, error)) << error;
    EXPECT_TRUE(warnings.empty());
    SnapBackupCatalog::Catalog back;
    ASSERT_TRUE(SnapBackupCatalog::Load(path, back, error)) << error;
    EXPECT_EQ(back.jobId, 8589934599LL);
    EXPECT_TRUE(back.vmLevelMetadata);
    ASSERT_EQ(back.vms.size(), 2u);
    EXPECT_EQ(back.vms[0].guid, "i-1");
    EXPECT_EQ(back.vms[0].vmJobId, 8589934597LL);
    EXPECT_EQ(back.vms[0].vmAppId, 4294967296LL);
    EXPECT_EQ(back.vms[0].totalDiskSize, 21474836480ULL);
    EXPECT_EQ(back.vms[0].region, "us-east-1");
    EXPECT_EQ(back.vms[0].guestOSId, 12);
    ASSERT_EQ(back.vms[0].disks.size(), 1u);
    EXPECT_TRUE(back.vms[0].disks[0].isOSDisk);
}

TEST(SnapBackupCatalogTest, FilesThatAreNotACatalogueAreRefused) {
    TestEnv env;
    const std::string path = FwFile::JoinPath(env.BaseDir(), "c.xml");
    std::vector<SnapBackupCatalog::IndexFailure> warnings;
    std::string error;
    SnapBackupCatalog::Catalog catalog;
    catalog.vms = {Vm("i-1")};
    ASSERT_TRUE(SnapBackupCatalog::Save(path, catalog, warnings, error));
    const std::string good = TestEnv::ReadFile(path);
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string t = good;
        const size_t at = t.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? t : t.replace(at, from.size(), to);
    };
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"another message", vsXMLFile::ToText(CNMessageBase(VirtualServer::AmazonMountSnapInfo::kType))},
        {"a job id that is no number", replaced("<field n=\"1\">0</field>", "<field n=\"1\">zero</field>")},
        {"an instance without id", replaced(">i-1<", "><")},
        {"a disk size that is no number", replaced(">21474836480</field>\n", ">-x</field>\n")},
        {"cut", good.substr(0, good.size() - 30)},
    };
    for (const auto& [name, text] : cases) {
        ASSERT_TRUE(FwFile::WriteAllAtomic(path, text));
        SnapBackupCatalog::Catalog back;
        back.jobId = 5;
        EXPECT_FALSE(SnapBackupCatalog::Load(path, back, error)) << name;
        EXPECT_EQ(back.jobId, 5) << name;
    }
}

SnapMountMessage::Info MountInfo() {
    SnapMountMessage::Info info;
    info.endpoint = "us-east-1";
    info.user = "AKIADEMOSOURCE000001";
    info.password = "demo-source-secret";
    info.credentials.push_back({"", "us-east-1", "AKIADEMOADMIN0000001", "demo-admin-secret", 5});
    info.credentials.push_back({"", "proxy:3128", "squid", "proxy-password", 3});
    info.region = "us-east-1";
    info.instanceName = "web";
    info.instanceId = "i-1";
    info.mappings.push_back({"vol-1", "snap-1", "us-east-1a", 512});
    info.mappings.push_back({"vol-2", "snap-2", "us-east-1a", 4096});
    return info;
}

TEST(SnapMountMessageTest, TheHandOverReadsBackAndCarriesNoSecretInClear) {
    TestEnv env;
    std::string text, error;
    ASSERT_TRUE(SnapMountMessage::Serialize(MountInfo(), text, error)) << error;
    std::string payload;
    CNMessageBase check(VirtualServer::AmazonMountSnapInfo::kType);
    ASSERT_EQ(check.Deserialize(text), CNMessageBase::kOk);
    const std::string inner = check.GetMessages(1)[0].GetString(3);
    EXPECT_EQ(inner.find("demo-source-secret"), std::string::npos);
    EXPECT_EQ(inner.rfind("PS1$", 0), 0u);
    SnapMountMessage::Info back;
    ASSERT_TRUE(SnapMountMessage::Parse(text, back, error)) << error;
    EXPECT_EQ(back.password, "demo-source-secret");
    ASSERT_EQ(back.credentials.size(), 2u);
    EXPECT_EQ(back.credentials[0].type, 5);
    EXPECT_EQ(back.credentials[1].password, "proxy-password");
    ASSERT_EQ(back.mappings.size(), 2u);
    EXPECT_EQ(back.mappings[1].sectorSize, 4096u);
    EXPECT_EQ(back.instanceId, "i-1");

    SnapMountMessage::Info bare = MountInfo();
    bare.instanceId.clear();
    ASSERT_TRUE(SnapMountMessage::Serialize(bare, text, error));
    ASSERT_TRUE(SnapMountMessage::Parse(text, back, error)) << "no instance part is not an error here";
    EXPECT_TRUE(back.mappings.empty());
}

TEST(SnapMountMessageTest, HostileHandOversAreRefused) {
    TestEnv env;
    auto withMapping = [](const char* sector, const char* volume) {
        CNMessageBase connect(VirtualServer::AmazonConnectParam::kType);
        connect.SetString(1, "us-east-1");
        CNMessageBase map(VirtualServer::AmazonVolSnapMapping::kType);
        map.SetString(1, volume);
        map.SetString(2, "snap-1");
        map.SetString(4, sector);
        CNMessageBase top(VirtualServer::AmazonMountSnapInfo::kType);
        top.AddMessage(1, connect);
        top.SetString(4, "i-1");
        top.AddMessage(5, map);
        std::string text;
        top.Serialize(text);
        return text;
    };
    CNMessageBase clear(VirtualServer::AmazonMountSnapInfo::kType);
    CNMessageBase connect(VirtualServer::AmazonConnectParam::kType);
    connect.SetString(3, "password-in-clear");
    clear.AddMessage(1, connect);
    std::string clearText, good, error;
    clear.Serialize(clearText);
    ASSERT_TRUE(SnapMountMessage::Serialize(MountInfo(), good, error));
    std::string altered = good;
    altered[altered.size() / 2] = altered[altered.size() / 2] == 'A' ? 'B' : 'A';
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"a sector size of 1000", withMapping("1000", "vol-1")},
        {"a sector size that is no number", withMapping("4k", "vol-1")},
        {"a negative sector size", withMapping("-512", "vol-1")},
        {"a mapping without volume", withMapping("512", "")},
        {"a password in clear", clearText},
        {"cut", good.substr(0, good.size() - 10)},
        {"altered", altered},
        {"oversized", std::string(2u << 20, 'A')},
    };
    for (const auto& [name, text] : cases) {
        SnapMountMessage::Info info;
        info.instanceId = "kept";
        EXPECT_FALSE(SnapMountMessage::Parse(text, info, error)) << name;
        EXPECT_EQ(info.instanceId, "kept") << name;
    }
}
}  // namespace
