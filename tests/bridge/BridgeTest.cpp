// The bridge over the demo cloud: connecting, identity, the proxy's own
// identity, and the region and zone inventories.
#include <gtest/gtest.h>

#include "bridge/AmazonSDKBridge.h"
#include "cloudsim/Cloud.h"
#include "support/DemoAccounts.h"
#include "support/Names.h"
#include "support/TestEnv.h"

using VMInfoStructs::SDataCenterInfo;
using VMInfoStructs::SHostInfo;
using VMInfoStructs::SVMInfo;

namespace {

using demo::kAdminKey;
using demo::kAdminSecret;
using demo::kSourceKey;
using demo::kSourceSecret;
const char kNotConnected[] = "InvalidClientState: not connected";
const int64_t kGiB = 1024LL * 1024 * 1024;

class BridgeTest : public ::testing::Test {
protected:
    void SetUp() override {
        cloud = env.InstallCloud();
        ASSERT_TRUE(bridge.initialize("Amazon", "VSA", 42)) << bridge.GetLastErrorString();
    }
    void ConnectSource() { ASSERT_TRUE(bridge.Connect("", kSourceKey, kSourceSecret)) << bridge.GetLastErrorString(); }

    TestEnv env;
    std::shared_ptr<cloudsim::Cloud> cloud;
    CAmazonSDKBridge bridge;
};

const SVMInfo* FindVm(const std::vector<SVMInfo>& vms, const std::string& name) {
    for (const auto& vm : vms)
        if (vm.name == name) return &vm;
    return nullptr;
}

}  // namespace

TEST_F(BridgeTest, ConnectChecksKeySecretAndRegion) {
    struct Case {
        std::string url, key, secret;
        std::string regionOrError;
        bool ok;
    } cases[] = {
        {"", kSourceKey, kSourceSecret, "us-east-1", true},
        {"us-west-2", kSourceKey, kSourceSecret, "us-west-2", true},
        {"https://ec2.us-west-2.amazonaws.com", kSourceKey, kSourceSecret, "us-west-2", true},
        {"https://ec2.us-west-2.amazonaws.com/", kSourceKey, kSourceSecret, "us-west-2", true},
        {"https://ec2.amazonaws.com", kSourceKey, kSourceSecret, "us-east-1", true},
        {"us-west-2", kAdminKey, kAdminSecret, "us-west-2", true},
        {"", "AKIANOBODY", kSourceSecret,
         "AuthFailure: AWS was not able to validate the provided access credentials", false},
        {"", kSourceKey, kAdminSecret,
         "SignatureDoesNotMatch: The request signature we calculated does not match the signature you provided. "
         "Check your AWS Secret Access Key and signing method.",
         false},
        {"eu-north-9", kSourceKey, kSourceSecret, "InvalidParameterValue: Unknown region eu-north-9", false},
        {"https://ec2.ap-south-7.amazonaws.com", kSourceKey, kSourceSecret,
         "InvalidParameterValue: Unknown region ap-south-7", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url + " " + c.key);
        ASSERT_TRUE(bridge.Connect("us-east-1", kSourceKey, kSourceSecret));
        EXPECT_EQ(bridge.Connect(c.url, c.key, c.secret), c.ok);
        EXPECT_EQ(bridge.IsConnected(), c.ok);
        EXPECT_EQ(c.ok ? bridge.GetCurrentRegion() : bridge.GetLastErrorString(), c.regionOrError);
    }
    ConnectSource();
    std::string id, canonical, partition;
    ASSERT_TRUE(bridge.GetAccountId(id) && bridge.GetCanonicalId(canonical) && bridge.GetAwsArnPartition(partition));
    EXPECT_EQ(id, "111122223333");
    EXPECT_EQ(canonical, "79a59df900b949e55d96a1e698fbacedfd6e09d98eacf8f8d5218e7cd47ef2be");
    EXPECT_EQ(partition, "aws");
}

TEST_F(BridgeTest, OperationsNeedInitializeAndAConnection) {
    CAmazonSDKBridge fresh;
    EXPECT_FALSE(fresh.IsInitialized());
    EXPECT_FALSE(fresh.Connect("", kSourceKey, kSourceSecret));
    EXPECT_EQ(fresh.GetLastErrorString(), "InvalidClientState: bridge not initialized");

    std::string out = "untouched";
    for (CAmazonSDKBridge* b : {&fresh, &bridge}) {
        EXPECT_FALSE(b->GetAccountId(out));
        EXPECT_EQ(b->GetLastErrorString(), kNotConnected);
        EXPECT_FALSE(b->GetLocalInstanceId(out));
        EXPECT_EQ(b->RefreshDCInfoList(0, 0), -1);
        EXPECT_EQ(b->GetLastErrorString(), kNotConnected);
    }
    ConnectSource();
    bridge.Disconnect();
    for (auto op : {&CAmazonSDKBridge::GetCanonicalId, &CAmazonSDKBridge::GetAwsArnPartition,
                    &CAmazonSDKBridge::GetLocalInstanceRegion}) {
        EXPECT_FALSE((bridge.*op)(out));
        EXPECT_EQ(bridge.GetLastErrorString(), kNotConnected);
    }
    EXPECT_EQ(bridge.RefreshHostInfoList(0, 0), -1);
    EXPECT_EQ(out, "untouched");

    cloudsim::Cloud::SetProcessCloud(nullptr);
    TestEnv::SetSetting("CloudSim", "sSeedFile", env.BaseDir() + "/no-such-seed.json");
    EXPECT_FALSE(fresh.initialize("Amazon", "VSA", 1));
    EXPECT_EQ(fresh.GetLastErrorString().rfind("InternalError: simulated cloud unavailable: no state in ", 0), 0u)
        << fresh.GetLastErrorString();
}

TEST_F(BridgeTest, LocalInstanceAndOutposts) {
    ConnectSource();
    std::string id, region, arn = "stale";
    ASSERT_TRUE(bridge.GetLocalInstanceId(id));
    ASSERT_TRUE(bridge.GetLocalInstanceRegion(region));
    EXPECT_EQ(id, "i-0fedcba9876540001");
    EXPECT_EQ(region, "us-east-1");
    // The proxy is in the admin account, yet the source connection sees it.
    ASSERT_TRUE(bridge.GetOutpostsAccountARN(id, region, arn));
    EXPECT_EQ(arn, "");
    ASSERT_TRUE(bridge.GetOutpostsAccountARN("i-0fedcba9876540002", "us-east-1", arn));
    EXPECT_EQ(arn, "arn:aws:outposts:us-east-1:444455556666:outpost/op-0123456789abcdef0");
    EXPECT_FALSE(bridge.GetOutpostsAccountARN("i-0fedcba9876540002", "us-west-2", arn));
    EXPECT_FALSE(bridge.GetOutpostsAccountARN("i-00000000000000bad", "", arn));
    EXPECT_EQ(bridge.GetLastErrorString(), "InvalidInstanceID.NotFound: The instance ID 'i-00000000000000bad' does not exist");

    // Off EC2 there is no local instance, which is not an error.
    cloud->Write([](cloudsim::State& s) { s.proxyInstanceId.clear(); });
    ASSERT_TRUE(bridge.GetLocalInstanceId(id));
    ASSERT_TRUE(bridge.GetLocalInstanceRegion(region));
    EXPECT_EQ(id + region, "");

    env.InstallCloud(std::string(TEST_SOURCE_DIR) + "/tests/cloudsim/outpost-proxy-seed.json");
    CAmazonSDKBridge onOutpost;
    ASSERT_TRUE(onOutpost.initialize("Amazon", "VSA", 42));
    ASSERT_TRUE(onOutpost.Connect("", kSourceKey, kSourceSecret));
    ASSERT_TRUE(onOutpost.GetLocalInstanceId(id));
    ASSERT_TRUE(onOutpost.GetLocalInstanceRegion(region));
    ASSERT_TRUE(onOutpost.GetOutpostsAccountARN(id, region, arn));
    EXPECT_EQ(region, "us-west-2");
    EXPECT_EQ(arn, "arn:aws:outposts:us-west-2:444455556666:outpost/op-0fedcba9876543210");
}

TEST_F(BridgeTest, FaultRulesFailOperationsWithTheirText) {
    cloud->AddFault({"GetAccountId", 2, "Throttling: Rate exceeded", 0});
    cloud->AddFault({"RefreshDCInfoList", 0, "UnauthorizedOperation: You are not authorized", 0});
    ConnectSource();
    std::string id;
    EXPECT_TRUE(bridge.GetAccountId(id));
    EXPECT_FALSE(bridge.GetAccountId(id));
    EXPECT_EQ(bridge.GetLastErrorString(), "Throttling: Rate exceeded");
    EXPECT_TRUE(bridge.GetAccountId(id));
    EXPECT_EQ(bridge.GetLastErrorString(), "") << "a success leaves no text of an earlier failure";
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(bridge.RefreshDCInfoList(0, 0), -1);
        EXPECT_EQ(bridge.GetLastErrorString(), "UnauthorizedOperation: You are not authorized");
    }
    cloud->AddFault({"initialize", 1, "InternalError: no endpoint", 0});
    CAmazonSDKBridge other;
    EXPECT_FALSE(other.initialize("Amazon", "VSA", 1));
    EXPECT_FALSE(other.IsInitialized());
    EXPECT_EQ(other.GetLastErrorString(), "InternalError: no endpoint");
}

TEST_F(BridgeTest, RegionListHoldsZonesAndTheAccountsInstances) {
    ConnectSource();
    bridge.overrideRegion("mars-1");
    EXPECT_EQ(bridge.RefreshDCInfoList(0, 0), -1);
    EXPECT_EQ(bridge.GetLastErrorString(), "InvalidParameterValue: Unknown region mars-1");
    bridge.overrideRegion("us-west-2");
    ASSERT_EQ(bridge.RefreshDCInfoList(0, 0), 2);
    std::vector<SDataCenterInfo> dcs;
    bridge.GetDCInfoList(dcs);
    ASSERT_EQ(dcs.size(), 2u);
    const SDataCenterInfo& east = dcs[0];
    EXPECT_EQ(east.guid, "us-east-1");
    EXPECT_EQ(east.endpoint, "ec2.us-east-1.amazonaws.com");
    EXPECT_EQ(Names(east.vms), (std::vector<std::string>{"web-server-01", "db-server-01", "win-app-01"}));
    ASSERT_EQ(east.hosts.size(), 3u);
    EXPECT_EQ(east.hosts[0].guid, "us-east-1a");
    // The admin account's proxy shares the zone but not the account.
    EXPECT_EQ(Names(east.hosts[0].vms), std::vector<std::string>{"web-server-01"});
    EXPECT_EQ(Names(east.hosts[2].vms), std::vector<std::string>{"win-app-01"});

    const SVMInfo* db = FindVm(east.hosts[1].vms, "db-server-01");
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(db->guid + " " + db->zone + " " + db->guestOS, "i-0a1b2c3d4e5f60002 us-east-1b Linux");
    EXPECT_EQ(db->powerState, 1);
    ASSERT_EQ(db->disks.size(), 3u);
    EXPECT_TRUE(db->disks[0].isOSDisk);
    EXPECT_EQ(db->disks[0].name, "vol-0a1b2c3d4e5f6b001");   // no Name tag
    EXPECT_EQ(db->disks[1].name + " " + db->disks[1].deviceName, "db-data /dev/sdf");
    EXPECT_FALSE(db->disks[1].isOSDisk);
    EXPECT_TRUE(db->disks[1].encrypted && db->disks[1].iops == 5000);
    EXPECT_EQ(db->disks[1].size, 100 * kGiB);
    EXPECT_EQ(db->disks[1].usedSize, 64 * kGiB);
    EXPECT_EQ(db->disks[2].usedSize, 125 * kGiB);            // no usedBytes: all of it
    EXPECT_EQ(db->totalDiskSize, static_cast<uint64_t>((5 + 64 + 125) * kGiB));

    const SVMInfo* win = FindVm(east.vms, "win-app-01");
    ASSERT_NE(win, nullptr);
    EXPECT_TRUE(win->guestOS == "Windows" && win->guestOSInfo.isWindows);
    EXPECT_EQ(win->powerState, 0);

    const SVMInfo* tmpl = FindVm(dcs[1].hosts[1].vms, "golden-image-template");
    ASSERT_NE(tmpl, nullptr);
    EXPECT_TRUE(tmpl->isTemplate);
    EXPECT_FALSE(FindVm(dcs[1].vms, "analytics-01")->isTemplate);
}

TEST_F(BridgeTest, ZoneListFollowsTheCloud) {
    ConnectSource();
    ASSERT_EQ(bridge.RefreshHostInfoList(0, 0), 5);
    std::vector<SHostInfo> zones;
    bridge.GetHostInfoList(zones);
    ASSERT_EQ(zones.size(), 5u);
    EXPECT_EQ(zones[3].name, "us-west-2a");
    EXPECT_EQ(zones[3].region, "us-west-2");
    EXPECT_EQ(Names(zones[3].vms), std::vector<std::string>{"analytics-01"});
    EXPECT_EQ(zones[3].vms[0].disks[1].volumeType, "gp3");

    // A terminated instance drops out; the cached list changes only on refresh.
    cloud->Write([](cloudsim::State& s) { s.instances.at("i-0a1b2c3d4e5f60004").state = "terminated"; });
    bridge.GetHostInfoList(zones);
    EXPECT_EQ(zones[3].vms.size(), 1u);
    ASSERT_EQ(bridge.RefreshHostInfoList(0, 0), 5);
    bridge.GetHostInfoList(zones);
    EXPECT_TRUE(zones[3].vms.empty());
}
