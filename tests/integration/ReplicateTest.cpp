// Replication cycles through the built host program and plug-in: a chain's
// first cycle makes the replica in full, a later one (after the guest
// changed and an incremental backup) writes only the changed blocks onto
// volumes made from the replica's integrity snapshots and replaces the
// replica; after each the replica holds the chain's last point block for
// block and is the only replica, carrying the only live integrity AMI.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cloudsim/Cloud.h"
#include "framework/FileUtils.h"
#include "integration/HostRun.h"
#include "support/TestEnv.h"

namespace {
const char kIntegrityTag[] = "KD_Integrity_Snap";
const char kJobTag[] = "_QX_BACKUP_";

// What a cycle printed: "... as replica ID (...) ...: MODE cycle, N blocks
// written (...), integrity AMI AMI, ...".
struct Cycle {
    std::string replica, ami, mode;
    long long blocks = -1;
};

std::string Between(const std::string& text, const std::string& lead, char end) {
    const size_t at = text.find(lead);
    if (at == std::string::npos) return {};
    const size_t from = at + lead.size();
    return text.substr(from, text.find(end, from) - from);
}

Cycle Parse(const std::string& out) {
    Cycle c;
    const std::string line = Between(out, "replicated point", '\n');
    c.replica = Between(line, " as replica ", ' ');
    c.ami = Between(line, "integrity AMI ", ',');
    c.mode = Between(line, ": ", ' ');
    const std::string blocks = Between(line, "cycle, ", ' ');
    if (!blocks.empty()) c.blocks = std::stoll(blocks);
    return c;
}

// The replication's footprint in the cloud: live replicas (instances with
// an integrity tag), live integrity AMIs and the snapshots tagged as theirs.
struct Footprint {
    std::vector<std::string> replicas, amis;
    std::map<std::string, std::string> replicaTags;   // of the one replica, when there is one
    std::set<std::string> integritySnapshots;
    std::set<std::string> strandedInterfaces;   // kept past their instance's end
};

Footprint Look(const std::string& base) {
    auto cloud = cloudsim::Cloud::OpenFolder(base + "/cloudsim", "");
    Footprint f;
    cloud->Read([&](const cloudsim::State& s) {
        for (const auto& [id, i] : s.instances) {
            const bool gone = i.state == "terminated" || i.state == "shutting-down";
            if (i.tags.count(kIntegrityTag) && !gone) {
                f.replicas.push_back(id);
                f.replicaTags = i.tags;
            }
            for (const auto& nic : i.networkInterfaces)
                if (gone && !nic.deleteOnTermination) f.strandedInterfaces.insert(nic.id);
        }
        for (const auto& [id, im] : s.images) {
            const auto name = im.tags.find("Name");
            if (im.state != "deregistered" && name != im.tags.end() && name->second == kJobTag) f.amis.push_back(id);
        }
        for (const auto& [id, snap] : s.snapshots) {
            const auto d = snap.tags.find("Descrption");
            if (d != snap.tags.end() && d->second.rfind("Integrity Snapshot Created for replication Job ", 0) == 0)
                f.integritySnapshots.insert(id);
        }
    });
    return f;
}

class ReplicateChain {
public:
    ReplicateChain(std::string base, std::string backupJob, std::string instance, std::string mode)
        : m_base(std::move(base)), m_backupJob(std::move(backupJob)), m_instance(std::move(instance)),
          m_mode(std::move(mode)) {}

    std::string Chain() const { return m_base + "/chain"; }

    void Backup() {
        std::unique_ptr<EndpointProcess> endpoints;
        if (m_mode == "EBS-DIRECT-API") endpoints = std::make_unique<EndpointProcess>(m_base);
        int code = -1;
        const std::string out = RunBackup(m_base, m_instance, m_mode, Chain(), code, "", m_backupJob);
        ASSERT_EQ(0, code) << out;
    }

    std::string Replicate(const std::string& args, int& code) {
        return RunHost("--base " + m_base + " replicate --job " + kDemoJob + " --instance " + m_instance +
                           " --chain " + Chain() + " " + args,
                       code);
    }

    // The replica against the chain's last point, block for block (holes
    // included), with the name and zone it was given.
    void Verify(const std::string& replica, const std::string& nameAndZone) {
        int code = -1;
        RunCommand("rm -rf " + m_base + "/rebuilt", code);
        std::string out =
            RunHost("--base " + m_base + " restore-image --chain " + Chain() + " --out " + m_base + "/rebuilt", code);
        ASSERT_EQ(0, code) << out;
        out = RunTool("verify-restore --base " + m_base + " --manifest " + m_base + "/rebuilt/manifest.json --instance " +
                          replica + " " + nameAndZone,
                      code);
        EXPECT_EQ(0, code) << out;
        EXPECT_NE(std::string::npos, out.find("verify-restore passed")) << out;
    }

    void GuestWrite(const std::string& volume, int block, const std::string& what) {
        int code = -1;
        const std::string out =
            RunTool("guest-write --base " + m_base + " --volume " + volume + " --block " + std::to_string(block) + " " + what,
                    code);
        ASSERT_EQ(0, code) << out;
    }

private:
    std::string m_base, m_backupJob, m_instance, m_mode;
};

// One replica, carrying the one live integrity AMI, whose snapshots are the
// only integrity snapshots.
void ExpectOneReplica(const std::string& base, const Cycle& cycle) {
    const Footprint f = Look(base);
    EXPECT_EQ(std::vector<std::string>{cycle.replica}, f.replicas);
    EXPECT_EQ(std::vector<std::string>{cycle.ami}, f.amis);
    EXPECT_EQ(cycle.ami, f.replicaTags.count(kIntegrityTag) ? f.replicaTags.at(kIntegrityTag) : "");
    auto cloud = cloudsim::Cloud::OpenFolder(base + "/cloudsim", "");
    std::set<std::string> ofAmi;
    cloud->Read([&](const cloudsim::State& s) {
        for (const auto& [id, snap] : s.snapshots)
            if (f.integritySnapshots.count(id) && snap.tags.count(kJobTag)) ofAmi.insert(id);
        for (const auto& id : s.images.at(cycle.ami).snapshotIds) EXPECT_TRUE(ofAmi.count(id)) << id;
    });
    EXPECT_EQ(ofAmi, f.integritySnapshots) << "an integrity snapshot of an older AMI is left";
    EXPECT_TRUE(f.strandedInterfaces.empty()) << "the replaced replica's interface outlives it, used by nothing";
}

// A fresh base folder whose chain backs up one instance in one mode.
class Replicate : public ::testing::Test {
protected:
    void Start(const std::string& backupJob, const std::string& instance, const std::string& mode) {
        RunHost("--base " + base, code);
        ASSERT_EQ(0, code);
        chain = std::make_unique<ReplicateChain>(base, backupJob, instance, mode);
        chain->Backup();
    }
    // A cycle that must succeed, as it printed itself.
    Cycle Succeeds(const std::string& args) {
        const std::string out = chain->Replicate(args, code);
        EXPECT_EQ(0, code) << out;
        const Cycle c = Parse(out);
        EXPECT_FALSE(c.replica.empty()) << out;
        return c;
    }

    TestEnv env;
    const std::string base = env.BaseDir();
    std::unique_ptr<ReplicateChain> chain;
    int code = -1;
};
}  // namespace

// outpost-worker's hot-add chain replicated into the proxy's account, in a
// zone other than the proxy's: the guest edits a block, allocates another
// and zeroes a third, and the second cycle writes exactly those three.
TEST_F(Replicate, ASecondCycleWritesOnlyTheChangedBlocksAndReplacesTheReplica) {
    ASSERT_NO_FATAL_FAILURE(Start(kDemoBackupJob, "i-0fedcba9876540002", "HOTADD"));
    const Cycle first = Succeeds("--account admin --name worker-replica --zone us-east-1c");
    EXPECT_EQ("full", first.mode);
    EXPECT_EQ(7, first.blocks) << "every block of the point with data";
    chain->Verify(first.replica, "--name worker-replica --zone us-east-1c");
    ExpectOneReplica(base, first);

    chain->GuestWrite("vol-0fedcba987654b001", 1, "--text 'edited since the first cycle'");
    chain->GuestWrite("vol-0fedcba987654b001", 300, "--text 'allocated since the first cycle'");
    chain->GuestWrite("vol-0fedcba987654b001", 2, "--zero yes");
    ASSERT_NO_FATAL_FAILURE(chain->Backup());
    // A later cycle keeps the replica where it is; one asking to move it is
    // refused before anything is made.
    const Footprint kept = Look(base);
    const std::string out = chain->Replicate("--zone us-east-1a", code);
    EXPECT_EQ(1, code) << out;
    EXPECT_NE(std::string::npos, out.find("the replica lives with the zone \"us-east-1c\"")) << out;
    EXPECT_EQ(kept.replicas, Look(base).replicas);

    const Cycle second = Succeeds("");   // the account, name and zone are the replica's
    EXPECT_EQ("incremental", second.mode);
    EXPECT_EQ(3, second.blocks) << "the edited, the allocated and the zeroed block";
    EXPECT_NE(first.replica, second.replica);
    chain->Verify(second.replica, "--name worker-replica --zone us-east-1c");
    ExpectOneReplica(base, second);
    auto cloud = cloudsim::Cloud::OpenFolder(base + "/cloudsim", "");
    cloud->Read([&](const cloudsim::State& s) { EXPECT_EQ("deregistered", s.images.at(first.ami).state); });
    EXPECT_EQ("", CleanStoreProblem(base, "restore", kDemoJob));
}

// web-server-01's two disks, read over the EBS direct APIs from the source
// account, replicated into the proxy's account (a replica lives where the
// proxy is: the plug-in refuses one across accounts, with its reason) in a
// zone other than the proxy's; each disk's change reaches the replica.
TEST_F(Replicate, TwoDisksOfAnotherAccountsInstanceFollowTheirChanges) {
    ASSERT_NO_FATAL_FAILURE(Start(kDemoJob, "i-0a1b2c3d4e5f60001", "EBS-DIRECT-API"));
    const std::string out = chain->Replicate("--account source --zone us-east-1b", code);
    EXPECT_EQ(1, code) << out;
    EXPECT_NE(std::string::npos, out.find("(error 242): Cross account restore is not supported for flavor [4]")) << out;
    EXPECT_TRUE(Look(base).replicas.empty());
    const Cycle first = Succeeds("--account admin --zone us-east-1b");
    EXPECT_EQ("full", first.mode);
    chain->Verify(first.replica, "--name web-server-01 --zone us-east-1b");
    ExpectOneReplica(base, first);

    chain->GuestWrite("vol-0a1b2c3d4e5f6a001", 5, "--zero yes");
    chain->GuestWrite("vol-0a1b2c3d4e5f6a002", 100, "--text 'a new block of web-data'");
    ASSERT_NO_FATAL_FAILURE(chain->Backup());
    const Cycle second = Succeeds("");
    EXPECT_EQ("incremental", second.mode);
    EXPECT_EQ(2, second.blocks);
    chain->Verify(second.replica, "--name web-server-01 --zone us-east-1b");
    ExpectOneReplica(base, second);
    EXPECT_EQ("", CleanStoreProblem(base, "restore", kDemoJob));
}

// A replica whose integrity AMI was deleted by hand cannot be built on: the
// cycle writes every block onto empty volumes, and still leaves one replica.
TEST_F(Replicate, ALostIntegrityAMIMakesTheNextCycleFull) {
    ASSERT_NO_FATAL_FAILURE(Start(kDemoBackupJob, "i-0fedcba9876540002", "HOTADD"));
    const Cycle first = Succeeds("--account admin --name worker-replica --zone us-east-1a");
    ASSERT_FALSE(first.ami.empty());
    auto cloud = cloudsim::Cloud::OpenFolder(base + "/cloudsim", "");
    cloud->Write([&](cloudsim::State& s) {
        s.images.at(first.ami).state = "deregistered";
        for (const auto& id : s.images.at(first.ami).snapshotIds) s.snapshots.erase(id);
    });
    chain->GuestWrite("vol-0fedcba987654b001", 3, "--text 'edited'");
    ASSERT_NO_FATAL_FAILURE(chain->Backup());
    const Cycle second = Succeeds("");
    EXPECT_EQ("full", second.mode);
    EXPECT_EQ(7, second.blocks);
    chain->Verify(second.replica, "--name worker-replica --zone us-east-1a");
    ExpectOneReplica(base, second);
}

// What cannot be replicated is refused before the cloud is touched.
TEST_F(Replicate, BadInputIsRefused) {
    ASSERT_NO_FATAL_FAILURE(Start(kDemoBackupJob, "i-0fedcba9876540002", "HOTADD"));
    const std::string dir = chain->Chain();
    // A chain whose replica file is of a layout this host does not read.
    RunCommand("cp -a " + dir + " " + base + "/newer", code);
    ASSERT_TRUE(FwFile::WriteAllAtomic(base + "/newer/replica.json", "{\"format\": \"Replica\", \"version\": 2}\n"));
    struct Case {
        std::string args;
        int exitCode;
        const char* reason;
    } const cases[] = {
        {"--instance i-0a1b2c3d4e5f60001 --chain " + dir, 1, "holds backups of i-0fedcba9876540002"},
        {"--instance i-0fedcba9876540002 --chain " + base + "/nothing", 1, "has no backups"},
        {"--instance i-0fedcba9876540002 --chain " + dir + " --zone us-east-1z", 1, "no availability zone \"us-east-1z\""},
        {"--instance i-0fedcba9876540002 --chain " + dir + " --point 1", 2, "does not take --point"},
        {"--chain " + dir, 2, "needs --instance ID and --chain DIR"},
        {"--instance i-0fedcba9876540002 --chain " + base + "/newer", 1, "this host reads version 1 only"},
    };
    for (const auto& c : cases) {
        const std::string out =
            RunHost("--base " + base + " replicate --job " + kDemoJob + " --account admin " + c.args, code);
        EXPECT_EQ(c.exitCode, code) << c.args << "\n" << out;
        EXPECT_NE(std::string::npos, out.find(c.reason)) << c.args << "\n" << out;
        EXPECT_TRUE(Look(base).replicas.empty()) << c.args;
    }
    EXPECT_FALSE(FwFile::Exists(dir + "/replica.json"));
}
