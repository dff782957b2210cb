// Browsing the demo account through the four views, as the framework walks
// the tree: a path and the chain of nodes it followed to get there.
#include "InventoryFixtures.h"
#include "support/Names.h"

using namespace inventorytest;
using VMInfoStructs::SInventoryInfo;
using ::testing::_;
using ::testing::ElementsAre;
using ::testing::Return;

namespace {
SInventoryInfo Node(const std::string& name, const std::string& guid = "", EInventoryType type = 0) {
    SInventoryInfo n;
    n.name = name;
    n.guid = guid;
    n.type = type;
    return n;
}

SInventoryInfo Region(const std::string& name) { return Node(name, name, 2); }
SInventoryInfo Zone(const std::string& name) { return Node(name, name, 5); }

// The framework's parent argument: each node the only child of the one before.
SInventoryInfo Chain(std::vector<SInventoryInfo> nodes) {
    for (size_t i = nodes.size() - 1; i > 0; --i) nodes[i - 1].children = {nodes[i]};
    return nodes.front();
}

struct Browse : CloudFixture {
    std::vector<SInventoryInfo> out;
    int Run(const std::string& path, const SInventoryInfo& parent = {}) {
        return object.BrowseInventory(path, parent, out, 0, 0);
    }
};
}  // namespace

TEST_F(Browse, TopLevelListsTheFourViewsInTheirOrder) {
    for (const std::string path : {"", "\\"}) {
        ASSERT_EQ(1, Run(path));
        EXPECT_THAT(Names(out), ElementsAre("Instance View", "Region View", "Tags View", "InstanceType View"));
    }
    EXPECT_TRUE(log.Has("Search path [\\]"));
}

TEST_F(Browse, EachViewRootListsTheRegions) {
    for (const std::string view : {"Instance View", "Region View", "Tags View", "InstanceType View"}) {
        ASSERT_EQ(1, Run("\\" + view)) << view;
        EXPECT_THAT(Names(out), ElementsAre("us-east-1", "us-west-2"));
        EXPECT_EQ(2, out[0].type);
        EXPECT_EQ("us-east-1", out[0].guid);
        EXPECT_TRUE(log.Has("Current node [" + view + "] is root node."));
    }
}

TEST_F(Browse, RegionViewGoesFromRegionToZoneToInstances) {
    ASSERT_EQ(1, Run("\\Region View\\us-east-1", Chain({Node("Region View"), Region("us-east-1")})));
    EXPECT_THAT(Names(out), ElementsAre("us-east-1a", "us-east-1b", "us-east-1c"));
    EXPECT_EQ(5, out[0].type);

    ASSERT_EQ(1, Run("\\Region View\\us-east-1\\us-east-1a",
                     Chain({Node("Region View"), Region("us-east-1"), out[0]})));
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ("web-server-01", out[0].name);
    EXPECT_EQ("i-0a1b2c3d4e5f60001", out[0].guid);
    EXPECT_EQ(8, out[0].type);
    EXPECT_EQ(1, out[0].flags);   // running
}

TEST_F(Browse, TemplatesAreNeverListedAsInstances) {
    ASSERT_EQ(1, Run("\\Instance View\\us-west-2", Chain({Node("Instance View"), Region("us-west-2")})));
    EXPECT_THAT(Names(out), ElementsAre("analytics-01"));
    ASSERT_EQ(1, Run("\\Region View\\us-west-2\\us-west-2b",
                     Chain({Node("Region View"), Region("us-west-2"), Zone("us-west-2b")})));
    EXPECT_TRUE(out.empty());
}

TEST_F(Browse, ChildrenAreSortedIgnoringCase) {
    cloud->Write([](cloudsim::State& s) {
        for (const std::string name : {"b", "C", "a"}) {
            cloudsim::Instance inst;
            inst.id = s.NewId("i");
            inst.account = demo::kSourceAccount;
            inst.region = "us-east-1";
            inst.zone = "us-east-1c";
            inst.tags["Name"] = name;
            s.instances[inst.id] = inst;
        }
    });
    ASSERT_EQ(1, Run("\\Region View\\us-east-1\\us-east-1c",
                     Chain({Node("Region View"), Region("us-east-1"), Zone("us-east-1c")})));
    EXPECT_THAT(Names(out), ElementsAre("a", "b", "C", "win-app-01"));
    EXPECT_EQ(0, out[3].flags);   // stopped
}

TEST_F(Browse, TagsViewWalksKeysValuesAndInstances) {
    const SInventoryInfo region = Region("us-east-1");
    ASSERT_EQ(1, Run("\\Tags View\\us-east-1", Chain({Node("Tags View"), region})));
    auto key = std::find_if(out.begin(), out.end(), [](const auto& n) { return n.name == "Department"; });
    ASSERT_NE(out.end(), key);
    EXPECT_EQ(25, key->type);
    const SInventoryInfo keyNode = *key;

    ASSERT_EQ(1, Run("\\Tags View\\us-east-1\\Department", Chain({Node("Tags View"), region, keyNode})));
    EXPECT_THAT(Names(out), ElementsAre("Engineering", "Finance"));
    EXPECT_EQ(24, out[0].type);
    const SInventoryInfo valueNode = out[0];

    ASSERT_EQ(1, Run("\\Tags View\\us-east-1\\Department\\Engineering",
                     Chain({Node("Tags View"), region, keyNode, valueNode})));
    EXPECT_THAT(Names(out), ElementsAre("web-server-01", "win-app-01"));
    EXPECT_EQ(8, out[0].type);
}

TEST_F(Browse, InstanceTypeViewListsTypesInUseOrAllByTheSetting) {
    const SInventoryInfo region = Region("us-east-1");
    ASSERT_EQ(1, Run("\\InstanceType View\\us-east-1", Chain({Node("InstanceType View"), region})));
    EXPECT_THAT(Names(out), ElementsAre("m5.xlarge", "r5.large", "t3.medium"));
    EXPECT_EQ(28, out[0].type);
    const SInventoryInfo typeNode = out[1];

    ASSERT_EQ(1, Run("\\InstanceType View\\us-east-1\\r5.large", Chain({Node("InstanceType View"), region, typeNode})));
    EXPECT_THAT(Names(out), ElementsAre("db-server-01"));

    TestEnv::SetSetting("VirtualServer", "nListAllInstanceTypesAmazon", "1");
    ASSERT_EQ(1, Run("\\InstanceType View\\us-east-1", Chain({Node("InstanceType View"), region})));
    EXPECT_GT(out.size(), 3u);
}

TEST_F(Browse, TrailingSeparatorLocatesTheEmptyNodeInTheParentChain) {
    // A tag whose value is empty shows as a node without a name.
    cloud->Write([](cloudsim::State& s) { s.instances.at("i-0a1b2c3d4e5f60003").tags["Owner"] = ""; });
    const SInventoryInfo region = Region("us-east-1");
    const SInventoryInfo emptyValue = Node("", "us-east-1" + kSep + "Owner" + kSep, 24);
    ASSERT_EQ(1, Run("\\Tags View\\us-east-1\\Owner\\",
                     Chain({Node("Tags View"), region, Node("Owner", "us-east-1" + kSep + "Owner", 25), emptyValue})));
    EXPECT_TRUE(log.Has("Current node  [] "));
    EXPECT_FALSE(out.empty());

    // The view root path with a trailing separator is not the view root.
    EXPECT_EQ(0, Run("\\Tags View\\", Chain({Node("Tags View"), Node("")})));
    EXPECT_TRUE(log.Has("current browse node is empty."));
}

TEST_F(Browse, PathsTheParentChainDoesNotHoldAreRejected) {
    const SInventoryInfo region = Region("us-east-1");
    EXPECT_EQ(0, Run("\\Region View\\eu-west-9", Chain({Node("Region View"), region})));
    EXPECT_TRUE(log.Has("Failed to locate the browse node for [eu-west-9]"));

    // The right name at the wrong depth.
    EXPECT_EQ(0, Run("\\Region View\\us-east-1a", Chain({Node("Region View"), region, Zone("us-east-1a")})));

    // A branching chain cannot be followed.
    SInventoryInfo branching = Node("Region View");
    branching.children = {region, Region("us-west-2")};
    EXPECT_EQ(0, Run("\\Region View\\us-east-1", branching));

    // An instance node has no children to browse.
    EXPECT_EQ(0, Run("\\Instance View\\us-east-1\\web-server-01",
                     Chain({Node("Instance View"), region, Node("web-server-01", "i-0a1b2c3d4e5f60001", 8)})));
}

TEST_F(Browse, UnknownViewIsRejected) {
    EXPECT_EQ(0, Run("\\Bogus View\\us-east-1", Chain({Node("Bogus View"), Region("us-east-1")})));
    EXPECT_TRUE(log.Has("Unrecognized browse type [\\Bogus View\\us-east-1]"));
    EXPECT_TRUE(out.empty());
}

TEST_F(Browse, BridgeFailuresFailTheLevel) {
    cloud->AddFault({"GetDCInfoForDC", 0, kThrottled});
    EXPECT_EQ(0, Run("\\Region View\\us-east-1", Chain({Node("Region View"), Region("us-east-1")})));
    EXPECT_TRUE(log.Has("Failed to get Datacenter info for datacenter [us-east-1]/[us-east-1]. "
                        "Error [RequestLimitExceeded: Request limit exceeded.]"));

    cloud->AddFault({"RefreshDCInfoList", 0, kThrottled});
    EXPECT_EQ(0, Run("\\Region View"));
    EXPECT_TRUE(log.Has("Failed to refresh Datacenter info cache."));
}

// The framework's flags never reach the bridge; each level asks for what it
// lists.
TEST_F(MockFixture, BrowseAsksTheBridgeWithTheLevelsOwnDiscoveryFlags) {
    std::vector<SInventoryInfo> out;
    const auto region = Region("us-east-1");
    EXPECT_CALL(*bridge, GetDCInfoForDC("us-east-1", 0x20000000ULL, _, _)).WillOnce(Return(1));
    EXPECT_EQ(1, object->BrowseInventory("\\Instance View\\us-east-1", Chain({Node("Instance View"), region}), out,
                                         0xFF, 0));
    EXPECT_CALL(*bridge, GetDCInfoForDC("us-east-1", 0x20000000000000ULL, _, _)).WillOnce(Return(1));
    EXPECT_EQ(1, object->BrowseInventory("\\Region View\\us-east-1", Chain({Node("Region View"), region}), out,
                                         0xFF, 0));
}
