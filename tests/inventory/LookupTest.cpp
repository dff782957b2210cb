// Single look-ups and lists outside browsing, on the demo account.
#include <algorithm>
#include <functional>

#include "InventoryFixtures.h"
#include "framework/BiosInfo.h"

using namespace inventorytest;
using VMInfoStructs::SInventoryInfo;
using VMInfoStructs::SVMInfo;
using ::testing::_;
using ::testing::DoAll;
using ::testing::Return;
using ::testing::SetArgReferee;

namespace {
std::vector<std::string> Ids(const std::vector<SVMInfo>& vms) {
    std::vector<std::string> ids;
    for (const auto& vm : vms) ids.push_back(vm.guid);
    std::sort(ids.begin(), ids.end());
    return ids;
}

VMInfoStructs::SDisk Disk(int64_t size, int64_t used) {
    VMInfoStructs::SDisk d;
    d.size = size;
    d.usedSize = used;
    return d;
}
}  // namespace

TEST_F(MockFixture, VMLookupDropsTheDefaultHostAndSizesByUsedSpace) {
    SVMInfo found;
    found.disks = {Disk(100, 30), Disk(200, 50)};
    found.totalDiskSize = 300;
    EXPECT_CALL(*bridge, GetVMInfoForVM("web", "i-1", "", "", 24ULL, 0, _))
        .WillOnce(DoAll(SetArgReferee<6>(found), Return(1)));
    SVMInfo vm;
    ASSERT_EQ(1, object->GetVMInfoForVM("web", "i-1", "default", 24, 0, vm));
    EXPECT_EQ(80u, vm.totalDiskSize);
    EXPECT_TRUE(log.Has("Overwriting HubServ DB default host name"));
}

TEST_F(CloudFixture, VMLookupFindsTheInstanceOrLogsAndFails) {
    SVMInfo vm;
    ASSERT_EQ(1, object.GetVMInfoForVM("", "i-0a1b2c3d4e5f60001", "us-east-1a", 0, 0, vm));
    EXPECT_EQ("web-server-01", vm.name);
    EXPECT_EQ(3221225472u + 12884901888u, vm.totalDiskSize);

    EXPECT_EQ(0, object.GetVMInfoForVM("ghost", "i-0000000000000dead", "", 0, 0, vm));
    EXPECT_TRUE(log.Has("GetVMInfoForVM Failed for VM [ghost]/[i-0000000000000dead]. Error "
                        "[" + object.SourceBridge()->GetLastErrorString() + "]"));

    ASSERT_EQ(1, object.GetVMInfoForVMFromRegion("", "i-0a1b2c3d4e5f60004", "us-west-2", 0, 0, vm));
    EXPECT_EQ("analytics-01", vm.name);
    EXPECT_EQ(0, object.GetVMInfoForVMFromRegion("", "i-0a1b2c3d4e5f60004", "us-east-1", 0, 0, vm));
    EXPECT_TRUE(log.Has("GetVMInfoForVM Failed for VM []/[i-0a1b2c3d4e5f60004]"));
}

TEST_F(CloudFixture, LookUpFailuresAreLoggedAndReturnZero) {
    struct Case {
        const char* operation;
        std::function<int()> call;
        std::string logged;
    };
    std::vector<SVMInfo> vms;
    std::vector<SInventoryInfo> nodes;
    VMInfoStructs::SHostInfo host;
    VMInfoStructs::SDataCenterInfo dc;
    bool exists = false;
    const std::vector<Case> cases = {
        {"GetHostInfoForHost", [&] { return object.GetHostInfoForHost("us-east-1a", 0, 0, host); },
         "GetHostInfoForHost() failed..!! Error [" + kThrottled + "]"},
        {"GetDCInfoForDC", [&] { return object.GetDCInfoForDC("us-east-1", 0, 0, dc); },
         "GetDCInfoForDC() failed..!! Error [" + kThrottled + "]"},
        {"GetInventoryInfoListForTag",
         [&] { return object.GetInventoryInfoListForTag("us-east-1", "", "", 0, 0, nodes); },
         "GetInventoryInfoListForTag() failed..!! Error [" + kThrottled + "]"},
        {"GetVMInfoListForTag", [&] { return object.GetVMInfoListForTag("us-east-1", "Name", "", 0, 0, vms); },
         "GetVMInfoListForTag() failed..!! Error [" + kThrottled + "]"},
        {"GetVMInfoListForInstanceType",
         [&] { return object.GetVMInfoListForInstanceSize("us-east-1" + kSep + "t3.medium", 0, 0, vms); },
         "GetVMInfoListForInstanceType() failed..!! Error [" + kThrottled + "]"},
        {"GetInstanceTypeInfoListForRegion",
         [&] { return object.GetInstanceTypeInfoListForRegion("us-east-1", 0, 0, nodes, false); },
         "GetInstanceTypeInfoListForRegion() failed..!! Error [" + kThrottled + "]"},
        {"DoesVMExist", [&] { return object.DoesVMExist("i-0a1b2c3d4e5f60001", "web-server-01", "", exists, vms); },
         "DoesVMExist failed for VM [web-server-01] or [i-0a1b2c3d4e5f60001]"},
    };
    for (const auto& c : cases) {
        cloud->ClearFaults();
        EXPECT_NE(0, c.call()) << c.operation;
        cloud->AddFault({c.operation, 0, kThrottled});
        EXPECT_EQ(0, c.call()) << c.operation;
        EXPECT_TRUE(log.Has(c.logged)) << c.logged;
    }
}

TEST_F(CloudFixture, TagAndInstanceTypeListsTakeTheirQueryFromTheGuid) {
    std::vector<SVMInfo> vms;
    ASSERT_EQ(1, object.GetVMInfoListForTag("ignored", "us-east-1" + kSep + "Department" + kSep + "Engineering", 99, 0,
                                            0, vms));
    EXPECT_EQ(Ids(vms), (std::vector<std::string>{"i-0a1b2c3d4e5f60001", "i-0a1b2c3d4e5f60003"}));

    vms.clear();
    ASSERT_EQ(1, object.GetVMInfoListForInstanceSize("us-west-2\x12t3.small", 0, 0, vms));
    EXPECT_EQ(Ids(vms), (std::vector<std::string>{"i-0a1b2c3d4e5f60005"}));
}

TEST_F(CloudFixture, InstancesOfAnInventoryObjectByItsType) {
    std::vector<SVMInfo> vms;
    ASSERT_TRUE(object.GetVMInfoListForInventoryObject("us-east-1b", 5, 0, 0, vms));
    EXPECT_EQ(Ids(vms), (std::vector<std::string>{"i-0a1b2c3d4e5f60002"}));
    ASSERT_TRUE(object.GetVMInfoListForInventoryObject("us-west-2", 2, 0, 0, vms));
    EXPECT_EQ(3u, vms.size());   // appended to the zone's
    vms.clear();
    ASSERT_TRUE(object.GetVMInfoListForInventoryObject("", 1, 0, 0, vms));
    EXPECT_EQ(5u, vms.size());   // the source account's instances only
    EXPECT_FALSE(object.GetVMInfoListForInventoryObject("i-0a1b2c3d4e5f60001", 8, 0, 0, vms));

    cloud->AddFault({"GetHostInfoForHost", 0, kThrottled});
    EXPECT_FALSE(object.GetVMInfoListForInventoryObject("us-east-1b", 5, 0, 0, vms));
    EXPECT_TRUE(log.Has("Failed to get Host info for Host [us-east-1b]. Error [" + kThrottled + "]"));
    cloud->AddFault({"RefreshVMInfoList", 0, kThrottled});
    EXPECT_FALSE(object.GetVMInfoListForInventoryObject("", 1, 0, 0, vms));
    EXPECT_TRUE(log.Has("Failed to refresh VM Info list . Error [" + kThrottled + "]"));
}

TEST_F(CloudFixture, ZoneNodesNeverListTemplates) {
    std::vector<SInventoryInfo> nodes;
    ASSERT_TRUE(object.GetVMInventoryInfoListForHost("us-west-2b", nodes, 0, 0));
    EXPECT_TRUE(nodes.empty());
    EXPECT_TRUE(log.Has("Get VM list in zone [us-west-2b]"));

    ASSERT_TRUE(object.GetVMInventoryInfoListForHost("us-west-2b", nodes, 1ULL << 62, 0));
    EXPECT_TRUE(nodes.empty());
    EXPECT_TRUE(log.Has("Get template list in zone [us-west-2b]"));
    ASSERT_TRUE(object.GetVMInventoryInfoListForHost("us-west-2a", nodes, 1ULL << 62, 0));
    ASSERT_EQ(1u, nodes.size());
    EXPECT_EQ("analytics-01", nodes[0].name);

    EXPECT_FALSE(object.GetVMInventoryInfoListForHost("us-nowhere-1a", nodes, 0, 0));
    EXPECT_TRUE(log.Has("GetVMInventoryInfoListForHost Failed!!"));
}

TEST_F(CloudFixture, RegionListRefreshesAnEmptyCacheOnce) {
    std::vector<SInventoryInfo> nodes;
    ASSERT_EQ(1, object.GetInventoryInfoList(nodes, 0, 0));
    ASSERT_EQ(2u, nodes.size());
    EXPECT_EQ(2, nodes[0].type);
    // Filled cache: the bridge is not asked again.
    cloud->AddFault({"RefreshDCInfoList", 0, kThrottled});
    nodes.clear();
    EXPECT_EQ(1, object.GetInventoryInfoList(nodes, 0, 0));
    EXPECT_EQ(2u, nodes.size());
}

TEST_F(CloudFixture, LocalHostIsTheProxysZoneSeenThroughTheAdminAccount) {
    OnAnEC2Proxy();
    ConnectObject(Accounts::SourceAndAdmin);
    VMInfoStructs::SHostInfo host;
    ASSERT_EQ(1, object.GetLocalHostInfo(host, 0, 0));
    EXPECT_EQ("us-east-1a", host.name);
    ASSERT_EQ(1u, host.vms.size());
    EXPECT_EQ("i-0fedcba9876540001", host.vms[0].guid);
}

TEST_F(CloudFixture, CatalogsForRestoreChoices) {
    std::vector<VMInfoStructs::SVolumeTypeInfo> types;
    ASSERT_EQ(1, object.GetVolumeTypeListForHost("nowhere", types));
    ASSERT_EQ(7u, types.size());
    EXPECT_EQ(500ULL << 30, types[4].minSize);   // sizes are in GiB
    EXPECT_EQ("Throughput Optimized HDD (st1)", types[4].displayName);

    std::vector<VMInfoStructs::SImageInfo> images;
    cloud->AddFault({"GetFilteredAmis", 0, kThrottled});
    EXPECT_EQ(0, object.GetImageList("", "", "", images));
    EXPECT_EQ(kThrottled, object.GetLastVMErrorDetails());
}
