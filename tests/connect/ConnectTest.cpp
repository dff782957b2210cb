// Both connect forms against the simulated cloud seeded with the demo account.
#include <functional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "bridge/AmazonSDKBridge.h"
#include "disk/AmazonDiskInfo.h"
#include "ebsdirect/AmazonDirectSnapshotAccessAPIWrapper.h"
#include "factory/AmazonInfo.h"
#include "support/ConnectedFixture.h"
#include "support/LogTap.h"
#include "tasks/AmazonTaskUtils.h"

namespace {
using demo::kAdminKey;
using demo::kSourceKey;
using demo::kSourceSecret;

SHostCredentials Admin(const std::string& key, const std::string& secret) {
    return SHostCredentials("", "us-east-1", key, secret, 5);
}

std::string AccountOf(CAmazonSDKBridge* bridge) {
    std::string id;
    bridge->GetAccountId(id);
    return id;
}

struct ConnectFixture : ConnectedFixture {
    LogTap log;
    bool Logged(const std::string& text) const { return log.Has(text); }
};
}  // namespace

TEST_F(ConnectFixture, SingleAccountConnectsAndLogsTheAccount) {
    ASSERT_EQ(1, object.Connect("us-east-1", kSourceKey, kSourceSecret));
    EXPECT_TRUE(Logged("Connecting to Url=[us-east-1], user name[AKIADEMOSOURCE000001]"));
    EXPECT_TRUE(Logged("Connection Successful to source account [111122223333]"));
    EXPECT_EQ(object.SourceBridge(), object.AdminBridge());
    EXPECT_EQ(0, object.GetLastVMError());
}

// Every failed connect is error 48 with the text of the account that failed;
// a failing source account does not keep the admin account from being tried.
TEST_F(ConnectFixture, FailedConnectsAre48WithTheFailingAccountsText) {
    const struct {
        const char* what;
        std::function<int()> connect;
        std::string details;
        const char* logged;   // null: the failure is the bridge's, not an account's
        bool adminConnected;
    } rows[] = {
        {"unknown key", [&] { return object.Connect("us-east-1", "AKIAUNKNOWN", "x"); },
         "AuthFailure: AWS was not able to validate the provided access credentials", "Connect failed to source account",
         false},
        {"bridge initialisation", [&] {
             cloud->AddFault({"initialize", 0, "InternalError: bridge broken"});
             return object.Connect("us-east-1", kSourceKey, kSourceSecret);
         },
         "InternalError: bridge broken", nullptr, false},
        {"wrong source secret", [&] { return object.Connect("us-east-1", kSourceKey, "wrong", {DemoAdmin()}); },
         "SignatureDoesNotMatch", "Connect failed to source account", true},
        {"wrong admin secret",
         [&] { return object.Connect("us-east-1", kSourceKey, kSourceSecret, {Admin(kAdminKey, "wrong")}); },
         "SignatureDoesNotMatch", "Connect failed to admin account", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        cloud->ClearFaults();
        log.Clear();
        EXPECT_EQ(0, row.connect());
        EXPECT_EQ(48, object.GetLastVMError());
        EXPECT_EQ(0u, object.GetLastVMErrorDetails().rfind(row.details, 0)) << object.GetLastVMErrorDetails();
        if (row.logged) {
            EXPECT_TRUE(Logged(row.logged));
        }
        EXPECT_EQ(row.adminConnected, AccountOf(object.AdminBridge()) == demo::kAdminAccount);
    }
}

TEST_F(ConnectFixture, AdminAccountGetsItsOwnBridgeFromTheFirstType5Entry) {
    std::vector<SHostCredentials> creds = {SHostCredentials("", "h", "u", "p", 1), DemoAdmin(),
                                           Admin("AKIAUNKNOWN", "nope")};
    ASSERT_EQ(1, object.Connect("us-east-1", kSourceKey, kSourceSecret, creds));
    ASSERT_TRUE(object.IsCrossAccount());
    ASSERT_NE(object.SourceBridge(), object.AdminBridge());
    EXPECT_EQ(demo::kSourceAccount, AccountOf(object.SourceBridge()));
    EXPECT_EQ(demo::kAdminAccount, AccountOf(object.AdminBridge()));
    EXPECT_TRUE(Logged("Connection Successful to admin account [" + std::string(demo::kAdminAccount) + "]"));
}

// Whichever form connects again, an admin account of the first connection
// is forgotten: its bridge is no longer used, by the object or its tasks.
TEST_F(ConnectFixture, ASecondConnectWithoutAdminCredentialsWorksInTheSourceAccountAlone) {
    const std::function<int()> reconnects[] = {
        [&] { return object.Connect("us-east-1", kSourceKey, kSourceSecret); },
        [&] { return object.Connect("us-east-1", kSourceKey, kSourceSecret, {SHostCredentials("", "h", "u", "p", 3)}); },
    };
    for (const auto& reconnect : reconnects) {
        ConnectObject(Accounts::SourceAndAdmin);
        ASSERT_TRUE(object.InitDiskInfo());
        ASSERT_TRUE(object.IsCrossAccount());
        ASSERT_EQ(object.AdminBridge(), object.TaskUtils()->AdminBridge());

        ASSERT_EQ(1, reconnect());
        EXPECT_FALSE(object.IsCrossAccount());
        EXPECT_EQ(object.SourceBridge(), object.AdminBridge());
        EXPECT_EQ(object.SourceBridge(), object.TaskUtils()->AdminBridge());
        EXPECT_EQ(demo::kSourceAccount, AccountOf(object.AdminBridge()));
    }
}

TEST_F(ConnectFixture, WebProxyGoesToEveryBridgeAndOnlyTheFirstCounts) {
    std::vector<SHostCredentials> creds = {SHostCredentials("", "proxy1:3128", "pu", "pp", 3),
                                           SHostCredentials("", "proxy2:3128", "x", "y", 3)};
    ASSERT_EQ(1, object.Connect("us-east-1", kSourceKey, kSourceSecret, creds));
    EXPECT_EQ("proxy1:3128", object.SourceBridge()->GetWebProxyHost());

    CAmazonInfo cross(kAmazonInstanceType);
    creds.push_back(DemoAdmin());
    ASSERT_EQ(1, cross.Connect("us-east-1", kSourceKey, kSourceSecret, creds));
    EXPECT_EQ("proxy1:3128", cross.SourceBridge()->GetWebProxyHost());
    EXPECT_EQ("proxy1:3128", cross.AdminBridge()->GetWebProxyHost());
}

TEST_F(ConnectFixture, DisconnectClearsTheErrorAndDropsBothConnections) {
    ConnectObject(Accounts::SourceAndAdmin);
    object.SetLastVMError(7, "old");
    EXPECT_EQ(1, object.Disconnect());
    EXPECT_EQ(0, object.GetLastVMError());
    EXPECT_FALSE(object.SourceBridge()->IsConnected());
    EXPECT_FALSE(object.AdminBridge()->IsConnected());
}

TEST_F(ConnectFixture, RegionCacheRefreshFillsTheCacheAndFailureDisconnects) {
    ConnectObject();
    ASSERT_EQ(1, object._RefreshDCInfoCache(0x20000000000000ULL, 0));
    ASSERT_FALSE(object.GetDCInfoCache().empty());
    bool sawUsEast1 = false;
    for (const auto& dc : object.GetDCInfoCache()) sawUsEast1 |= dc.name == "us-east-1";
    EXPECT_TRUE(sawUsEast1);

    cloud->AddFault({"RefreshDCInfoList", 0, "RequestLimitExceeded: Request limit exceeded."});
    EXPECT_EQ(0, object._RefreshDCInfoCache(0, 0));
    EXPECT_FALSE(object.SourceBridge()->IsConnected());
}

TEST_F(ConnectFixture, ZoneCacheRefreshOnlyWhenNeededAndOnlyForItsInstanceType) {
    ConnectObject();
    ASSERT_EQ(1, object._RefreshHostInfoCache(0, 0));
    EXPECT_FALSE(object.GetHostInfoCache().empty());
    // Valid cache: no second call reaches the bridge, so a fault is not hit.
    cloud->AddFault({"RefreshHostInfoList", 0, "InternalError: should not be called"});
    EXPECT_EQ(1, object._RefreshHostInfoCache(0, 0));

    CAmazonInfo wrongType(302);
    ASSERT_EQ(1, ConnectDemo(wrongType));
    EXPECT_EQ(0, wrongType._RefreshHostInfoCache(0, 0));
    EXPECT_FALSE(wrongType.SourceBridge()->IsConnected());
}

TEST_F(ConnectFixture, DirectAccessClientIsRetriedAfterAFailedInitialisation) {
    // Without a secret key (role credentials) the client cannot initialise yet.
    ASSERT_EQ(0, object.Connect("us-east-1", kSourceKey, ""));
    EXPECT_FALSE(object.InitializeDirectSnapshotAccessAPIWrapper());
    EXPECT_FALSE(object.InitializeDirectSnapshotAccessAPIWrapper());
    ConnectObject();
    EXPECT_TRUE(object.InitializeDirectSnapshotAccessAPIWrapper());
    EXPECT_TRUE(object.DirectSnapshotAccess()->IsInitialized());
}

// Another account on the same object: the direct client must not keep
// signing with the keys of the account connected first.
TEST_F(ConnectFixture, ASecondConnectToAnotherAccountGivesTheDirectClientItsKeys) {
    ConnectObject();
    ASSERT_TRUE(object.InitializeDirectSnapshotAccessAPIWrapper());
    EXPECT_EQ(kSourceKey, object.DirectSnapshotAccess()->getCredentialsCopy().accessKeyId);
    ASSERT_EQ(1, ConnectDemo(object, Accounts::Admin));
    ASSERT_TRUE(object.InitializeDirectSnapshotAccessAPIWrapper());
    EXPECT_EQ(kAdminKey, object.DirectSnapshotAccess()->getCredentialsCopy().accessKeyId);
}

TEST_F(ConnectFixture, DiskInfoIsCreatedOnceAndRefusesAnUnnamedVM) {
    EXPECT_TRUE(object.InitDiskInfo());
    CAmazonDiskInfo* first = object.DiskInfo();
    EXPECT_TRUE(object.InitDiskInfo());
    EXPECT_EQ(first, object.DiskInfo());
    VMInfoStructs::SVMInfo vm;
    EXPECT_FALSE(object.ConnectDiskInfo(vm));
    EXPECT_EQ(19, object.GetLastVMError());
    vm.guid = "i-0123";
    EXPECT_TRUE(object.ConnectDiskInfo(vm));
}
