// Factory, Init/DeInit, destruction and small helpers of the plug-in object.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "factory/AmazonInfo.h"
#include "framework/KDPI.h"
#include "support/MockBridge.h"
#include "support/TestEnv.h"

using ::testing::_;
using ::testing::NiceMock;
using ::testing::Return;

extern "C" int CreateAmazonInfoObject(VirtualServerInstanceType type, IVMInfo** out);

namespace {

// Builds objects whose bridges are mocks the test can reach.
struct MockedObject {
    std::atomic<int> destroyed{0};
    std::vector<NiceMock<MockBridge>*> bridges;
    std::unique_ptr<CAmazonInfo> object;

    MockedObject() {
        object = std::make_unique<CAmazonInfo>(kAmazonInstanceType, [this] {
            auto bridge = std::make_unique<NiceMock<MockBridge>>(&destroyed);
            ON_CALL(*bridge, initialize(_, _, _)).WillByDefault(Return(true));
            ON_CALL(*bridge, Connect(_, _, _)).WillByDefault(Return(true));
            bridges.push_back(bridge.get());
            return bridge;
        });
    }
    NiceMock<MockBridge>& source() { return *bridges.at(0); }
    // Connects with an admin account, which gets the second bridge.
    int ConnectWithAdmin() {
        return object->Connect("us-east-1", "AK", "SK", {SHostCredentials("", "us-east-1", "AK", "SK", 5)});
    }
};

}  // namespace

TEST(Factory, CreatesAnObjectOnlyWhenGivenSomewhereToPutIt) {
    TestEnv env;
    IVMInfo* object = nullptr;
    ASSERT_EQ(1, CreateAmazonInfoObject(kAmazonInstanceType, &object));
    ASSERT_NE(nullptr, object);
    EXPECT_EQ(kAmazonInstanceType, object->GetInstanceType());
    auto* amazon = static_cast<CAmazonInfo*>(object);
    EXPECT_EQ(amazon->SourceBridge(), amazon->AdminBridge());
    EXPECT_FALSE(amazon->IsCrossAccount());
    delete object;

    EXPECT_EQ(0, CreateAmazonInfoObject(kAmazonInstanceType, nullptr));
}

TEST(Init, NoJobMarkerReachesTheBridgeAsZeroOtherIdsUnchanged) {
    TestEnv env;
    for (long long jobId : {static_cast<long long>(EvEvent::kNoJob), -5LL, 0LL, 987654321012LL}) {
        MockedObject m;
        m.object->GetEventContext().setJobId(jobId);
        const long long expected = jobId == EvEvent::kNoJob ? 0 : jobId;
        EXPECT_CALL(m.source(), initialize(_, _, expected)).WillOnce(Return(true));
        EXPECT_EQ(1, m.object->Init(false));
        EXPECT_EQ(expected, m.object->JobId());
    }
}

TEST(Init, WithoutAdminAccountNeverTouchesTheAdminBridge) {
    TestEnv env;
    MockedObject m;
    ASSERT_EQ(1, m.ConnectWithAdmin());
    ASSERT_EQ(2u, m.bridges.size());
    EXPECT_CALL(*m.bridges[1], initialize(_, _, _)).Times(0);
    EXPECT_CALL(m.source(), initialize(_, _, _)).WillOnce(Return(true));
    EXPECT_EQ(1, m.object->Init(false));
}

TEST(Init, FailingBridgesFailInitWithTheirErrorText) {
    TestEnv env;
    {
        MockedObject m;
        EXPECT_CALL(m.source(), initialize(_, _, _)).WillOnce(Return(false));
        EXPECT_CALL(m.source(), GetLastErrorString()).WillRepeatedly(Return("InternalError: source down"));
        EXPECT_EQ(0, m.object->Init(false));
        EXPECT_EQ("InternalError: source down", m.object->GetLastVMErrorDetails());
    }
    {
        MockedObject m;
        ASSERT_EQ(1, m.ConnectWithAdmin());
        EXPECT_CALL(m.source(), initialize(_, _, _)).WillOnce(Return(true));
        EXPECT_CALL(*m.bridges[1], initialize(_, _, _)).WillOnce(Return(false));
        EXPECT_CALL(*m.bridges[1], GetLastErrorString()).WillRepeatedly(Return("InternalError: admin down"));
        EXPECT_EQ(0, m.object->Init(true));
        EXPECT_EQ("InternalError: admin down", m.object->GetLastVMErrorDetails());
    }
}

TEST(Init, DirectSnapshotAccessSettingDefaultsToTrueAndIsRead) {
    TestEnv env;
    const struct {
        const char* setting;   // null: not set
        bool direct;
    } rows[] = {{nullptr, true}, {"false", false}, {"not-a-bool", true}};
    for (const auto& row : rows) {
        if (row.setting) TestEnv::SetSetting("VirtualServer", "nAmazonUseRestAPIForDirectSnapshotAccess", row.setting);
        MockedObject m;
        ASSERT_EQ(1, m.object->Init(false));
        EXPECT_EQ(row.direct, m.object->UseDirectSnapshotAccess()) << (row.setting ? row.setting : "not set");
    }
}

TEST(Init, DeInitClearsTheLastError) {
    TestEnv env;
    MockedObject m;
    m.object->SetLastVMError(48, "boom");
    EXPECT_EQ(1, m.object->DeInit());
    EXPECT_EQ(0, m.object->GetLastVMError());
    EXPECT_EQ("", m.object->GetLastVMErrorDetails());
}

TEST(Destruction, SharedBridgeIsDeletedOnceSeparateBridgesEachOnce) {
    TestEnv env;
    {
        MockedObject m;
        m.object.reset();
        EXPECT_EQ(1, m.destroyed.load());
    }
    {
        MockedObject m;
        ASSERT_EQ(1, m.ConnectWithAdmin());
        // A second connect with admin credentials replaces the admin bridge.
        ASSERT_EQ(1, m.ConnectWithAdmin());
        EXPECT_EQ(3u, m.bridges.size());
        EXPECT_EQ(1, m.destroyed.load());
        m.object.reset();
        EXPECT_EQ(3, m.destroyed.load());
    }
}

TEST(Helpers, OverrideRegionReachesEachBridgeOnceAndIgnoresEmpty) {
    TestEnv env;
    {
        MockedObject m;
        EXPECT_CALL(m.source(), overrideRegion(_)).Times(0);
        m.object->overrideSDKRegion("");
    }
    {
        MockedObject m;
        EXPECT_CALL(m.source(), overrideRegion("eu-west-1")).Times(1);
        m.object->overrideSDKRegion("eu-west-1");
    }
    {
        MockedObject m;
        ASSERT_EQ(1, m.ConnectWithAdmin());
        EXPECT_CALL(m.source(), overrideRegion("eu-west-1")).Times(1);
        EXPECT_CALL(*m.bridges[1], overrideRegion("eu-west-1")).Times(1);
        m.object->overrideSDKRegion("eu-west-1");
    }
}

TEST(Helpers, ComponentsFolderIsUnderTheBaseFolder) {
    TestEnv env;
    MockedObject m;
    EXPECT_EQ(env.BaseDir() + "/Amazon/", m.object->getProxyAWSComponentsFolder());
    TestEnv::SetSetting("Base", "dBASEHOME", "/srv/agent");
    EXPECT_EQ("/srv/agent/Amazon/", m.object->getProxyAWSComponentsFolder());
}
