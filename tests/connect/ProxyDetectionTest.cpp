// Whether the agent's machine is an EC2 instance, its identity and Outpost,
// and the stream limit.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "factory/AmazonInfo.h"
#include "framework/BiosInfo.h"
#include "support/ConnectedFixture.h"
#include "support/MockBridge.h"
#include "support/TestEnv.h"

using ::testing::_;
using ::testing::DoAll;
using ::testing::NiceMock;
using ::testing::Return;
using ::testing::SetArgReferee;

TEST(ProxyDetection, BiosRules) {
    const struct {
        const char *manufacturer, *version;
        bool amazon;
    } rows[] = {
        {"xen", "4.11.Amazon", true},   {"Amazon EC2", "1.0", true},     {"amazon ec2", "", true},
        {"Ovm", "Amazon", false},       {"OVM", "4.2 Amazon", false},    {"oVm", "Amazon", false},
        {"QEMU", "1.16.2-debian", false}, {"Amazon EC2 Nitro", "1.0", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.amazon, CAmazonInfo::IsAmazonBios(row.manufacturer, row.version))
            << row.manufacturer << " / " << row.version;
}

namespace {
// What the machine's metadata answers: a value and whether the query worked.
struct Answer {
    std::string value;
    bool ok = true;
};

struct MockedProxy {
    NiceMock<MockBridge>* bridge = nullptr;
    std::unique_ptr<CAmazonInfo> object;
    Answer id, region;
    MockedProxy(const std::string& instanceId, const std::string& instanceRegion)
        : id{instanceId}, region{instanceRegion} {
        object = std::make_unique<CAmazonInfo>(kAmazonInstanceType, [this] {
            auto b = std::make_unique<NiceMock<MockBridge>>();
            ON_CALL(*b, GetLocalInstanceId(_)).WillByDefault([this](std::string& out) {
                out = id.value;
                return id.ok;
            });
            ON_CALL(*b, GetLocalInstanceRegion(_)).WillByDefault([this](std::string& out) {
                out = region.value;
                return region.ok;
            });
            bridge = b.get();
            return b;
        });
    }
};
}  // namespace

// On an EC2 machine an identity query that fails or answers nothing detects
// nothing: no id is cached (the clean-up store would be opened under the
// BIOS UUID), the Outposts query waits for a region, and the next query
// tries again.
TEST(ProxyDetection, AFailedOrEmptyIdentityQueryIsNoDetectionAndIsRetried) {
    TestEnv env;
    FwBios::SetOverride(FwBiosValues{"Amazon EC2", "m5.large", "uuid-1", "1.0"});
    const struct {
        const char* what;
        Answer id, region;
    } rows[] = {
        {"instance id query fails", {"", false}, {"us-east-1"}},
        {"instance id empty", {""}, {"us-east-1"}},
        {"region query fails", {"i-0abc"}, {"us-east-1", false}},
        {"region empty", {"i-0abc"}, {""}},
    };
    for (const auto& row : rows) {
        MockedProxy m("", "");
        m.id = row.id;
        m.region = row.region;
        EXPECT_CALL(*m.bridge, GetOutpostsAccountARN(_, _, _)).Times(0);
        EXPECT_FALSE(m.object->DetectLocalProxyInformation()) << row.what;
        EXPECT_TRUE(m.object->IsProxyAmazonInstance()) << row.what;   // as the BIOS says
        EXPECT_EQ("", m.object->GetProxyRegion()) << row.what;
        ::testing::Mock::VerifyAndClearExpectations(m.bridge);

        m.id = {"i-0abc"};
        m.region = {"us-east-1"};
        EXPECT_CALL(*m.bridge, GetOutpostsAccountARN("i-0abc", "us-east-1", _)).WillOnce(Return(true));
        EXPECT_EQ("i-0abc", m.object->GetProxyUUID()) << row.what;
        EXPECT_TRUE(m.object->IsProxyAmazonInstance()) << row.what;
        EXPECT_EQ("us-east-1", m.object->GetProxyRegion()) << row.what;
        EXPECT_EQ("uuid-1", m.object->GetProxyBiosId()) << row.what;
    }
}

// Detected once: later queries ask the machine's metadata nothing again. Only
// an EC2 machine has a region, and only one with a region an Outpost.
TEST(ProxyDetection, TheMachinesIdentityRegionAndOutpostFollowItsBios) {
    const struct {
        FwBiosValues bios;
        bool amazon;
        const char *region, *arn;
    } rows[] = {
        {{"Amazon EC2", "m5.large", "uuid-1", "1.0"}, true, "us-east-1", "arn:aws:outposts:us-east-1:1:outpost/op-1"},
        {{"OVM", "x", "uuid-2", "Amazon"}, false, "", ""},
    };
    for (const auto& row : rows) {
        TestEnv env;
        FwBios::SetOverride(row.bios);
        MockedProxy m("i-0abc", "us-east-1");
        EXPECT_CALL(*m.bridge, GetLocalInstanceRegion(_)).Times(row.amazon ? 1 : 0);
        if (row.amazon)
            EXPECT_CALL(*m.bridge, GetOutpostsAccountARN("i-0abc", "us-east-1", _))
                .WillOnce(DoAll(SetArgReferee<2>(std::string(row.arn)), Return(true)));
        else
            EXPECT_CALL(*m.bridge, GetOutpostsAccountARN(_, _, _)).Times(0);
        for (int query = 0; query < 2; ++query) {
            EXPECT_EQ(row.amazon, m.object->IsProxyAmazonInstance()) << row.bios.manufacturer;
            EXPECT_EQ(row.region, m.object->GetProxyRegion()) << row.bios.manufacturer;
            EXPECT_EQ(row.arn, m.object->OutpostsAccountARN()) << row.bios.manufacturer;
            EXPECT_EQ("i-0abc", m.object->GetProxyUUID()) << row.bios.manufacturer;
            EXPECT_EQ(row.bios.uuid, m.object->GetProxyBiosId()) << row.bios.manufacturer;
        }
    }
}

TEST(ProxyDetection, BiosFailureIsRetriedOnTheNextQuery) {
    TestEnv env;
    FwBios::SetOverride(FwBiosValues{}, false);
    MockedProxy m("i-0abc", "us-east-1");
    EXPECT_FALSE(m.object->DetectLocalProxyInformation());
    EXPECT_FALSE(m.object->IsProxyAmazonInstance());
    FwBios::SetOverride(FwBiosValues{"Amazon EC2", "", "uuid-3", "1.0"});
    EXPECT_TRUE(m.object->IsProxyAmazonInstance());
    VMInfoStructs::SVMInfo local;
    EXPECT_EQ(1, m.object->GetLocalVMInfo(local, 0, 0));
    EXPECT_EQ("i-0abc", local.guid);
    EXPECT_EQ("uuid-3", local.biosUuid);
    EXPECT_EQ("us-east-1", local.region);
}

TEST(ProxyDetection, AgainstTheSimulatedCloudOnAnOutpost) {
    TestEnv env;
    env.InstallCloud(std::string(TEST_SOURCE_DIR) + "/tests/cloudsim/outpost-proxy-seed.json");
    FwBios::SetOverride(FwBiosValues{"Amazon EC2", "m5.large", "uuid-4", "1.0"});
    CAmazonInfo object(kAmazonInstanceType);
    ASSERT_EQ(1, ConnectDemo(object, Accounts::SourceAndAdmin, "us-west-2")) << object.GetLastVMErrorDetails();
    EXPECT_TRUE(object.IsProxyAmazonInstance());
    EXPECT_EQ("us-west-2", object.GetProxyRegion());
    EXPECT_EQ("arn:aws:outposts:us-west-2:444455556666:outpost/op-0fedcba9876543210", object.OutpostsAccountARN());
}

// Anything but a positive number is the default of 40.
TEST(StreamLimit, DefaultSettingAndNonsense) {
    TestEnv env;
    CAmazonInfo object(kAmazonInstanceType);
    EXPECT_EQ(40, object.GetStreamLimit());
    const struct {
        const char* setting;
        int limit;
    } rows[] = {{"12", 12}, {"twelve", 40}, {"0", 40}, {"-3", 40}, {"99999999999", 40}};
    for (const auto& row : rows) {
        TestEnv::SetSetting("VirtualServer", "nAmazonProxyStreamLimit", row.setting);
        EXPECT_EQ(row.limit, object.GetStreamLimit()) << row.setting;
    }
}
