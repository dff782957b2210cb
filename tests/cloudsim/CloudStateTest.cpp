// Seed and state JSON: what a seed may omit, what it must not get wrong,
// and that a saved state reads back as it was.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "cloudsim/Cloud.h"
#include "support/TestEnv.h"

using cloudsim::ParseState;
using cloudsim::SerializeState;
using cloudsim::State;

namespace {

State DemoState() { return ParseState(TestEnv::ReadFile(AMAZON_DEMO_SEED)); }

}  // namespace

TEST(CloudState, DemoSeedDescribesTwoAccountsAndTheirMachines) {
    State s = DemoState();
    ASSERT_EQ(s.accounts.size(), 2u);
    const cloudsim::Account* source = s.FindAccountByKey("AKIADEMOSOURCE000001");
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->id, "111122223333");
    EXPECT_TRUE(std::regex_match(source->canonicalId, std::regex("[0-9a-f]{64}")));
    EXPECT_EQ(s.FindAccountByKey("AKIADEMOADMIN0000001")->id, "444455556666");
    EXPECT_EQ(s.FindAccountByKey("AKIAUNKNOWN"), nullptr);
    EXPECT_EQ(s.FindRegion("us-west-2")->zones.size(), 2u);
    EXPECT_EQ(s.FindRegion("eu-west-1"), nullptr);

    const cloudsim::Instance& proxy = s.instances.at(s.proxyInstanceId);
    EXPECT_EQ(proxy.tags.at("Name"), "backup-proxy");
    EXPECT_EQ(proxy.account, "444455556666");
    EXPECT_EQ(proxy.zone, "us-east-1a");
    EXPECT_TRUE(proxy.outpostArn.empty());

    // The seed lists volumes under their instances only; parsing completes
    // the volumes' side of each attachment.
    for (const auto& [id, inst] : s.instances)
        for (const auto& volId : inst.volumeIds) {
            EXPECT_EQ(s.volumes.at(volId).attachedInstance, id);
            EXPECT_EQ(s.volumes.at(volId).state, "in-use");
        }
}

TEST(CloudState, OmittedFieldsTakeTheirDefaults) {
    State s = ParseState(R"({
        "accounts": [{"id": "123456789012"}],
        "regions": [{"name": "r-1", "zones": ["r-1a"]}],
        "volumes": [{"id": "vol-1", "account": "123456789012", "region": "r-1", "zone": "r-1a", "sizeBytes": 4096}],
        "instances": [{"id": "i-1", "account": "123456789012", "region": "r-1", "zone": "r-1a"},
                      {"id": "i-2", "account": "123456789012", "region": "r-1", "zone": "r-1a", "state": "stopped"}],
        "faults": [{"operation": "Connect"}]
    })");
    EXPECT_EQ(s.generation, 0);
    EXPECT_EQ(s.nextId, 1);
    EXPECT_EQ(s.accounts[0].partition, "aws");
    const cloudsim::Volume& v = s.volumes.at("vol-1");
    EXPECT_EQ(v.type, "gp2");
    EXPECT_EQ(v.state, "available");
    EXPECT_EQ(v.UsedBytes(), 4096);
    const cloudsim::Instance& i = s.instances.at("i-1");
    EXPECT_EQ(i.state, "running");
    EXPECT_EQ(i.platform, "linux");
    EXPECT_FALSE(i.isTemplate);
    EXPECT_TRUE(s.proxyInstanceId.empty());
    EXPECT_TRUE(ParseState("{}").accounts.empty());
    // The asynchronous model's fields may be left out too.
    EXPECT_EQ(s.timing.volumeCreateMs, 15000);
    EXPECT_EQ(s.timing.statusCheckMs, 60000);
    EXPECT_EQ(i.statusCheck, "ok");
    EXPECT_EQ(s.instances.at("i-2").statusCheck, "");
    EXPECT_EQ(s.faults[0].kind, "fail");
    EXPECT_EQ(s.OfferedTypes("r-1").size(), cloudsim::DefaultOfferedTypes().size());
}

TEST(CloudState, MalformedSeedsAreRejectedWithTheirPlace) {
    const std::string base = R"("accounts": [{"id": "123456789012"}], "regions": [{"name": "r-1", "zones": ["r-1a"]}])";
    const std::string inst = R"({"id": "i-1", "account": "123456789012", "region": "r-1", "zone": "r-1a")";
    struct Case {
        std::string json;
        std::string message;
    } cases[] = {
        {"{\"accounts\": [", "malformed JSON"},
        {"[]", "state: expected an object"},
        {R"({"generation": "7"})", "state.generation: expected an integer"},
        {R"({"accounts": {"id": "1"}})", "state.accounts: expected an array"},
        {R"({"accounts": [{"id": 5}]})", "state.accounts[0].id: expected a string"},
        {R"({"accounts": [{"accessKey": "AKIA"}]})", "state.accounts[0].id: missing"},
        {R"({"regions": [{"name": "r", "zones": ["a", 2]}]})", "state.regions[0].zones: expected an array of strings"},
        {"{" + base + R"(, "instances": [)" + inst + R"(, "isTemplate": "yes"}]})", "isTemplate: expected true or false"},
        {"{" + base + R"(, "instances": [)" + inst + R"(, "tags": {"Name": 1}}]})", "tags.Name: expected a string"},
        {"{" + base + R"(, "instances": [)" + inst + "}, " + inst + "}]}", "duplicate instance id i-1"},
        {"{" + base + R"(, "instances": [)" + inst + R"(, "zone": "r-1z"}]})", "zone 'r-1z' is not in region r-1"},
        {"{" + base + R"(, "instances": [)" + inst + R"(, "account": "999"}]})", "unknown account '999'"},
        {"{" + base + R"(, "instances": [)" + inst + R"(, "volumeIds": ["vol-x"]}]})", "lists unknown volume vol-x"},
        {"{" + base + R"(, "proxyInstanceId": "i-9"})", "proxyInstanceId: unknown instance 'i-9'"},
        {R"({"faults": [{"operation": "Connect", "nth": -1}]})", "state.faults[0].nth: must not be negative"},
    };
    for (const auto& c : cases) {
        try {
            ParseState(c.json);
            ADD_FAILURE() << "accepted: " << c.json;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
                << "for " << c.json << "\n got: " << e.what();
        }
    }
    // The same checks guard the cloud's constructors.
    EXPECT_THROW(cloudsim::Cloud::InMemory("{\"regions\": 3}"), std::runtime_error);
}

TEST(CloudState, NewIdsAreAwsShapedUniqueAndRepeatable) {
    State a = DemoState();
    State b = DemoState();
    std::set<std::string> ids;
    for (int i = 0; i < 200; ++i) {
        std::string id = a.NewId("vol");
        EXPECT_TRUE(std::regex_match(id, std::regex("vol-[0-9a-f]{17}"))) << id;
        EXPECT_TRUE(ids.insert(id).second) << "repeated " << id;
        EXPECT_EQ(b.NewId("vol"), id);
    }
    EXPECT_EQ(a.nextId, 201);
    // A seeded resource that already holds the next id is stepped over.
    State c = DemoState();
    std::string taken = State(c).NewId("i");
    c.instances[taken].id = taken;
    EXPECT_NE(c.NewId("i"), taken);
}

TEST(CloudState, SavedStateReadsBackUnchanged) {
    State s = DemoState();
    EXPECT_EQ(s.images.size(), 5u);
    EXPECT_EQ(s.snapshots.size(), 7u);
    EXPECT_EQ(s.securityGroups.at("sg-0a1b2c3d4e5f10002").account, "111122223333");   // its VPC's
    EXPECT_EQ(s.subnets.at("subnet-0fedcba9876590003").outpostArn,
              "arn:aws:outposts:us-east-1:444455556666:outpost/op-0123456789abcdef0");
    s.snapshots.at("snap-0a1b2c3d4e5fb0003").sharedWith = {"444455556666"};
    s.kmsKeys.at(1).state = "PendingDeletion";
    s.instances.at("i-0a1b2c3d4e5f60003").disableApiTermination = true;
    s.generation = 41;
    s.nextId = 7;
    s.timing.attachMs = 7;
    cloudsim::Volume& v = s.volumes.at("vol-0a1b2c3d4e5f6a002");
    v.usedBytes = 1234;
    v.pending = {"available", 1234, "stuck"};
    v.modification.state = "modifying";
    v.modification.targetIops = 900;
    s.instances.at("i-0a1b2c3d4e5f60001").statusPending = {"ok", 99, "error"};
    s.faults.push_back({"Connect", 3, "Throttling: Rate exceeded", 2});
    s.faults.push_back({"AttachVolume", 0, "", 1, "conflict", "vol-0a1b2c3d4e5f6a002"});
    std::string text = SerializeState(s);
    State back = ParseState(text);
    EXPECT_EQ(SerializeState(back), text);
    EXPECT_EQ(back.generation, 41);
    EXPECT_EQ(back.nextId, 7);
    EXPECT_EQ(back.timing.attachMs, 7);
    EXPECT_EQ(back.volumes.at("vol-0a1b2c3d4e5f6a002").UsedBytes(), 1234);
    EXPECT_EQ(back.faults[0].seen, 2);
    EXPECT_EQ(back.faults[0].nth, 3);
    EXPECT_EQ(back.volumes.at("vol-0a1b2c3d4e5f6a002").pending.fault, "stuck");
    EXPECT_EQ(back.volumes.at("vol-0a1b2c3d4e5f6a002").modification.targetIops, 900);
    EXPECT_EQ(back.instances.at("i-0a1b2c3d4e5f60001").statusPending.readyAtMs, 99);
    EXPECT_EQ(back.faults.back().target, "vol-0a1b2c3d4e5f6a002");
    EXPECT_EQ(back.snapshots.at("snap-0a1b2c3d4e5fb0003").sharedWith, std::vector<std::string>{"444455556666"});
    EXPECT_EQ(back.kmsKeys.at(1).state, "PendingDeletion");
    EXPECT_TRUE(back.instances.at("i-0a1b2c3d4e5f60003").disableApiTermination);

    EXPECT_THROW(ParseState(R"({"faults": [{"operation": "Connect", "kind": "explode"}]})"), std::runtime_error);
    EXPECT_THROW(ParseState(R"({"accounts": [{"id": "1"}], "regions": [{"name": "r"}],
        "subnets": [{"id": "subnet-1", "vpcId": "vpc-9", "cidr": "10.0.0.0/24"}]})"), std::runtime_error);
}

TEST(CloudState, SettleAppliesOnlyWhatIsDue) {
    State s = DemoState();
    cloudsim::Volume& v = s.volumes.at("vol-0a1b2c3d4e5f6a002");
    v.pending = {"available", 1000, ""};   // a detachment
    cloudsim::Settle(s, 999);
    EXPECT_EQ(s.volumes.at("vol-0a1b2c3d4e5f6a002").state, "in-use");
    cloudsim::Settle(s, 1000);
    EXPECT_EQ(s.volumes.at("vol-0a1b2c3d4e5f6a002").state, "available");
    EXPECT_EQ(s.volumes.at("vol-0a1b2c3d4e5f6a002").attachedInstance, "");
    EXPECT_EQ(s.instances.at("i-0a1b2c3d4e5f60001").volumeIds, std::vector<std::string>{"vol-0a1b2c3d4e5f6a001"});
}

// CreateSubnet takes the block it is given, as EC2 does; the carving of a
// free block is the bridge's. demo-vpc is 10.0.0.0/16 with 10.0.0-2.0/24.
TEST(CloudState, SubnetsAreRefusedWhereEc2RefusesThem) {
    State s = DemoState();
    const std::string vpc = "vpc-0a1b2c3d4e5f80001", account = "111122223333", region = "us-east-1";
    struct Case { const char* vpc; const char* account; const char* cidr; const char* code; } refused[] = {
        {"vpc-0a1b2c3d4e5f80001", "111122223333", "10.0.1.128/25", "InvalidSubnet.Conflict"},
        {"vpc-0a1b2c3d4e5f80001", "111122223333", "10.0.0.0/22", "InvalidSubnet.Conflict"},
        {"vpc-0a1b2c3d4e5f80001", "111122223333", "10.1.0.0/24", "InvalidSubnet.Range"},    // outside the VPC
        {"vpc-0a1b2c3d4e5f80001", "111122223333", "10.0.0.0/15", "InvalidSubnet.Range"},
        {"vpc-0a1b2c3d4e5f80001", "111122223333", "10.0.9.0/29", "InvalidSubnet.Range"},    // below a /28
        {"vpc-0a1b2c3d4e5f80001", "111122223333", "10.0.9.0", "InvalidParameterValue"},
        {"vpc-0a1b2c3d4e5f80001", "444455556666", "10.0.9.0/24", "InvalidVpcID.NotFound"},   // another account's
        {"demo-vpc", "111122223333", "10.0.9.0/24", "InvalidVpcID.NotFound"},                // a name is no id
    };
    const size_t before = s.subnets.size();
    for (const auto& c : refused) {
        std::string error;
        EXPECT_EQ(cloudsim::CreateSubnet(s, c.account, region, c.vpc, c.cidr, "x", error), nullptr) << c.cidr;
        EXPECT_EQ(error.substr(0, error.find(':')), c.code) << c.cidr << ": " << error;
        // The text names what was wrong: the VPC when it is not found, else the block.
        const std::string named = std::string(c.code) == "InvalidVpcID.NotFound" ? c.vpc : c.cidr;
        const bool names = error.find("'" + named + "'") != std::string::npos ||
                           error.find("(" + named + ")") != std::string::npos;
        EXPECT_TRUE(names) << error;
    }
    EXPECT_EQ(s.subnets.size(), before);

    std::string error;
    const cloudsim::Subnet* made = cloudsim::CreateSubnet(s, account, region, vpc, "10.0.3.0/28", "iso", error);
    ASSERT_NE(made, nullptr) << error;
    EXPECT_EQ(made->cidr + " " + made->vpcId + " " + made->name, "10.0.3.0/28 " + vpc + " iso");
    EXPECT_EQ(cloudsim::CreateSubnet(s, account, region, vpc, "10.0.3.0/24", "", error), nullptr);
    EXPECT_EQ(error, "InvalidSubnet.Conflict: The CIDR '10.0.3.0/24' conflicts with another subnet");
}
