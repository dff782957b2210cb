// The cleanup registry end to end on the simulated cloud: what a job
// registers, a later job (in this or another process) removes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>

#include "bridge/AmazonSDKBridge.h"
#include "framework/Clock.h"
#include "framework/FileUtils.h"
#include "support/ConnectedFixture.h"
#include "support/TestPaths.h"

namespace {
const char kWeb[] = "i-0a1b2c3d4e5f60001";     // web-server-01, us-east-1a
const char kDb[] = "i-0a1b2c3d4e5f60002";      // db-server-01
const char kWebRoot[] = "vol-0a1b2c3d4e5f6a001";
const char kWest[] = "i-0a1b2c3d4e5f60004";    // two volumes, us-west-2a

struct Leftovers {
    std::string volume, snapshot, ami;
};

struct CleanupFixture : DemoCloudFixture {
    void SetUp() override {
        // A folder cloud, so that a forked job and this process share it.
        cloud = cloudsim::Cloud::OpenFolder(env.BaseDir() + "/cloudsim", AMAZON_DEMO_SEED);
        cloudsim::Cloud::SetProcessCloud(cloud);
        OnAnEC2Proxy();
    }

    // Cross-account by default: the proxy is in the admin account.
    static std::unique_ptr<CAmazonInfo> Connected(Accounts accounts = Accounts::SourceAndAdmin) {
        return DemoCloudFixture::Connected(accounts);
    }

    static MountCtx Job(const std::string& instance) {
        MountCtx ctx;
        ctx.requestedVMGuid = instance;
        return ctx;
    }

    // A backup job of instance, registered: its registration cleans up
    // after earlier jobs. Null when a step fails.
    static std::unique_ptr<CAmazonInfo> JobOf(const std::string& instance, Accounts accounts = Accounts::SourceAndAdmin) {
        auto object = Connected(accounts);
        MountCtx ctx = Job(instance);
        if (!object || object->RegisterCleanerForBackup(ctx) != 1) return nullptr;
        return object;
    }
    // The next job, of kDb.
    static std::unique_ptr<CAmazonInfo> NextJob(Accounts accounts = Accounts::SourceAndAdmin) {
        return JobOf(kDb, accounts);
    }
    // An empty volume of 1 GiB the bridge makes in us-east-1a; empty on failure.
    static std::string NewVolume(CAmazonSDKBridge& bridge) {
        VMInfoStructs::SDisk disk;
        disk.zone = "us-east-1a";
        disk.size = 1LL << 30;
        return bridge.CreateVolume(disk, false, "") ? disk.newVolumeId : std::string();
    }

    // What a backup job of kWeb leaves registered when it dies mid-way: a
    // staged volume in the proxy's zone, a snapshot and an AMI on the
    // instance's tags.
    static bool StageLeftovers(CAmazonInfo& object, Leftovers& made) {
        MountCtx ctx = Job(kWeb);
        if (!object.RegisterCleanerForBackup(ctx)) return false;
        VMInfoStructs::SDisk disk;
        disk.zone = "us-east-1a";
        disk.size = 8LL << 30;
        disk.volumeType = "gp3";
        std::vector<std::string> snaps;
        auto* admin = object.AdminBridge();
        auto* source = object.SourceBridge();
        const bool ok = admin->CreateVolume(disk, false, "") &&
                        source->CreateSnapshot(kWebRoot, "_QX_BACKUP_", "left over", made.snapshot, true) &&
                        source->CreateAMISnapshot(kWeb, "us-east-1", "_QX_BACKUP_", "", "left over", snaps, made.ami) &&
                        source->SetTag(made.ami, "_QX_BACKUP_", kWeb, true) &&
                        source->SetTag(kWeb, "_QX_AMI_", made.ami, false);
        made.volume = disk.newVolumeId;
        auto& cleaner = object.Cleaner();
        return ok && cleaner.RegisterDisk(0, kWeb, made.volume) && cleaner.RegisterSnapshot(0, kWeb, made.snapshot) &&
               cleaner.RegisterTemplate(0, kWeb, made.ami);
    }

    // Which of them are still there once deletions have had time to finish.
    std::string Left(const Leftovers& m) {
        env.Clock().AdvanceMs(60 * 1000);
        std::string left;
        if (!Volume(m.volume).id.empty()) left += "volume ";
        if (!Snapshot(m.snapshot).id.empty()) left += "snapshot ";
        if (ImageLives(m.ami)) left += "ami ";
        return left;
    }

    // The VMs the cleanup store holds entries of.
    static std::vector<std::string> StoreIds(CAmazonInfo& object) {
        std::vector<CleanerEntity> all;
        object.Cleaner().ListAll(all);
        std::vector<std::string> ids;
        for (const auto& entry : all) ids.push_back(entry.id);
        return ids;
    }
};
}  // namespace

TEST_F(CleanupFixture, AJobKilledMidWayIsCleanedByTheNextProcess) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto object = Connected();
        Leftovers made;
        if (!object || !StageLeftovers(*object, made)) _exit(3);
        raise(SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFSIGNALED(status)) << "the job could not stage its resources: " << WEXITSTATUS(status);

    Leftovers made;
    cloud->Read([&](const cloudsim::State& s) {
        for (const auto& [id, v] : s.volumes)
            if (v.account == demo::kAdminAccount && id != "vol-0fedcba987654a001" && id != "vol-0fedcba987654b001")
                made.volume = id;
        for (const auto& [id, sn] : s.snapshots) if (sn.volumeId == kWebRoot && sn.description == "left over") made.snapshot = id;
        for (const auto& [id, im] : s.images) if (im.sourceInstanceId == kWeb) made.ami = id;
    });
    ASSERT_FALSE(made.volume.empty());
    ASSERT_FALSE(made.ami.empty());
    env.Clock().AdvanceMs(10 * 60 * 1000);

    auto object = NextJob();
    ASSERT_TRUE(object);
    EXPECT_EQ("", Left(made));
    EXPECT_EQ("<none>", InstanceTag(kWeb, "_QX_AMI_"));
    // Only the new job's VM is registered now.
    EXPECT_EQ(std::vector<std::string>{kDb}, StoreIds(*object));
}

// A resource the cloud will not delete yet stays registered, and keeps the
// dead job's VM entry (and an AMI its instance's tag), while the others go;
// the job after retries it.
TEST_F(CleanupFixture, AnUndeletableResourceStaysRegisteredAndIsRetried) {
    const struct {
        cloudsim::FaultRule fault;
        const char* left;
    } rows[] = {
        {{"DeleteSnapshot", 0, "InternalError: snapshot service down"}, "snapshot "},
        {{"DeleteAMISnapshot", 0, "InvalidAMIID.InUse: in use"}, "ami "},
    };
    for (const auto& row : rows) {
        const std::string what = row.fault.operation;
        Leftovers made;
        {
            auto dead = Connected();
            ASSERT_TRUE(dead && StageLeftovers(*dead, made)) << what;
        }
        env.Clock().AdvanceMs(10 * 60 * 1000);
        cloud->AddFault(row.fault);
        {
            auto object = NextJob();
            ASSERT_TRUE(object) << what;
            EXPECT_EQ(row.left, Left(made)) << what;
            const bool amiLeft = std::string(row.left) == "ami ";
            EXPECT_EQ(amiLeft ? made.ami : "<none>", InstanceTag(kWeb, "_QX_AMI_")) << what;
            std::string path;
            ASSERT_TRUE(object->Cleaner().GetRegisteredVM(0, kWeb, path, true)) << what;
            std::vector<std::string> snaps, amis;
            object->Cleaner().GetRegisteredSnapshots(path, snaps);
            object->Cleaner().GetRegisteredTemplates(path, amis);
            EXPECT_EQ(amiLeft ? std::vector<std::string>{} : std::vector<std::string>{made.snapshot}, snaps) << what;
            EXPECT_EQ(amiLeft ? std::vector<std::string>{made.ami} : std::vector<std::string>{}, amis) << what;
        }
        cloud->ClearFaults();
        auto object = NextJob();
        ASSERT_TRUE(object) << what;
        EXPECT_EQ("", Left(made)) << what;
        EXPECT_EQ(std::vector<std::string>{kDb}, StoreIds(*object)) << what;
    }
}

TEST_F(CleanupFixture, ResourcesAWSNoLongerKnowsAreUnregistered) {
    {
        auto dead = JobOf(kWeb);
        ASSERT_TRUE(dead);
        auto& cleaner = dead->Cleaner();
        ASSERT_TRUE(cleaner.RegisterDisk(0, kWeb, "vol-0000000000000dead"));
        ASSERT_TRUE(cleaner.RegisterSnapshot(0, kWeb, "snap-0000000000000dead"));
        ASSERT_TRUE(cleaner.RegisterTemplate(0, kWeb, "ami-0000000000000dead"));
    }
    auto object = NextJob();
    ASSERT_TRUE(object);
    EXPECT_EQ(std::vector<std::string>{kDb}, StoreIds(*object));
}

TEST_F(CleanupFixture, RegistrationHappensOnceAndLiveBrowseRegistersOnlyItsVM) {
    {
        auto object = Connected();
        MountCtx ctx = Job(kWeb);
        ASSERT_EQ(1, object->RegisterCleanerForBackup(ctx));
        MountCtx other = Job(kDb);
        ASSERT_EQ(1, object->RegisterCleanerForBackup(other));
        EXPECT_EQ(std::vector<std::string>{kWeb}, StoreIds(*object));
    }
    auto browse = Connected();
    MountCtx ctx = Job(kDb);
    ctx.liveBrowse = true;
    ASSERT_EQ(1, browse->RegisterCleanerForBackup(ctx));
    EXPECT_TRUE(browse->IsCleanerRegistered());
    // The orphan of the first object was left alone; the browse's own VM
    // holds what its mount will stage.
    const std::vector<std::string> ids = StoreIds(*browse);
    EXPECT_EQ((std::set<std::string>{kWeb, kDb}), std::set<std::string>(ids.begin(), ids.end()));
}

TEST_F(CleanupFixture, CloudVHDNamesKeepTheirSlashesAndTheObjectIsDeleted) {
    cloud->Write([](cloudsim::State& s) {
        s.buckets["restore-stage"].name = "restore-stage";
        s.buckets["restore-stage"].account = demo::kAdminAccount;
        s.buckets["restore-stage"].region = "us-east-1";
        cloudsim::S3Object o;
        o.bucket = "restore-stage";
        o.key = "jobs/42/disk0.vhd";
        o.size = 10;
        s.objects.push_back(o);
    });
    auto object = Connected();
    RestoreCtx rctx;
    ASSERT_EQ(1, object->RegisterCleanerForRestore(rctx));
    const std::string key = rctx.registrationGuid;
    auto& cleaner = object->Cleaner();
    ASSERT_TRUE(cleaner.RegisterCloudVHD(1, key, "restore-stage/jobs/42/disk0.vhd"));
    std::string path;
    std::vector<std::string> names;
    ASSERT_TRUE(cleaner.GetRegisteredVM(1, key, path, false));
    ASSERT_TRUE(cleaner.GetRegisteredCloudVHDs(path, names));
    EXPECT_EQ(std::vector<std::string>{"restore-stage/jobs/42/disk0.vhd"}, names);
    std::vector<CleanerEntity> raw;
    cleaner.FillItemsFromCleanerPath(path, VM_CLEANER_CLOUD_VHD, raw);
    ASSERT_EQ(1u, raw.size());
    EXPECT_EQ("restore-stage;jobs;42;disk0.vhd", raw[0].id);

    std::vector<SFailure> failures;
    EXPECT_TRUE(object->_CleanupRestoreVM(key, failures, false));
    EXPECT_EQ(0u, Peek([](const cloudsim::State& s) { return s.objects.size(); }));
    EXPECT_TRUE(StoreIds(*object).empty());
}

// Two restores of one source must not share a key, and the key must never
// pass for an instance id: a job's own key (a retried job's) is kept.
TEST_F(CleanupFixture, ARestoreIsRegisteredUnderAKeyOfItsOwn) {
    const struct {
        const char* source;
        const char* given;
        bool kept;
    } rows[] = {{kWeb, "", false}, {kWeb, kWeb, false}, {"", "", false}, {kWeb, "job-7-key", true}};
    std::set<std::string> keys;
    for (const auto& row : rows) {
        auto object = Connected();
        ASSERT_TRUE(object);
        RestoreCtx rctx;
        rctx.sourceGuid = row.source;
        rctx.registrationGuid = row.given;
        ASSERT_EQ(1, object->RegisterCleanerForRestore(rctx));
        const std::string& key = rctx.registrationGuid;
        EXPECT_FALSE(key.empty());
        EXPECT_NE(0, key.compare(0, 2, "i-")) << key;
        if (row.kept) {
            EXPECT_EQ(row.given, key);
        }
        keys.insert(key);
        std::string path;
        EXPECT_TRUE(object->Cleaner().GetRegisteredVM(1, key, path, false)) << key;
    }
    EXPECT_EQ(4u, keys.size());
}

TEST_F(CleanupFixture, RestoreRegistrationNeedsTheMountMachinery) {
    auto object = Connected();
    RestoreCtx temp;
    // The cleanup store cannot be opened: a file stands where its folder goes.
    ASSERT_TRUE(FwFile::WriteAllAtomic(env.BaseDir() + "/Cleaner", "not a folder"));
    EXPECT_EQ(0, object->RegisterCleanerForRestore(temp));
    EXPECT_FALSE(object->IsCleanerRegistered());
    EXPECT_FALSE(temp.registrationGuid.empty());
}

TEST_F(CleanupFixture, ACreatedInstanceIsDeletedWithItsVolumes) {
    auto object = Connected();
    RestoreCtx rctx;
    ASSERT_EQ(1, object->RegisterCleanerForRestore(rctx));
    VMInfoStructs::SVMInfo vm;
    vm.name = "restored-web";
    vm.zone = "us-east-1a";
    vm.instanceType = "t3.micro";
    std::vector<std::string> snaps;
    std::string ami, out;
    auto* source = object->SourceBridge();
    ASSERT_TRUE(source->CreateAMISnapshot(kWeb, "us-east-1", "_QX_BACKUP_", "", "restore", snaps, ami));
    env.Clock().AdvanceMs(10 * 60 * 1000);
    vm.sourceId = ami;
    ASSERT_TRUE(source->CreateVirtualMachine(vm, out, false)) << source->GetLastErrorString();
    env.Clock().AdvanceMs(10 * 60 * 1000);
    ASSERT_TRUE(object->Cleaner().RegisterCreatedVM(1, rctx.registrationGuid, vm.guid));
    const std::vector<std::string> volumes = Instance(vm.guid).volumeIds;
    ASSERT_FALSE(volumes.empty());

    std::vector<SFailure> failures;
    EXPECT_TRUE(object->_CleanupRestoreVM(rctx.registrationGuid, failures, false));
    env.Clock().AdvanceMs(10 * 60 * 1000);
    const cloudsim::Instance made = Instance(vm.guid);
    EXPECT_TRUE(made.id.empty() || made.state == "terminated");
    for (const auto& v : volumes) EXPECT_TRUE(Volume(v).id.empty()) << v;
    EXPECT_TRUE(StoreIds(*object).empty());
}

// A restore into another account makes volumes there. Its entries name that
// account, so a later clean-up asks the account that holds each volume; one
// of an account the job is not connected to is kept, never taken as gone.
TEST_F(CleanupFixture, AVolumeIsCleanedUpInTheAccountThatHoldsIt) {
    std::string key, inSource, inAdmin;
    {
        auto dead = Connected();
        ASSERT_TRUE(dead);
        RestoreCtx rctx;
        ASSERT_EQ(1, dead->RegisterCleanerForRestore(rctx));
        key = rctx.registrationGuid;
        inSource = NewVolume(*dead->SourceBridge());
        inAdmin = NewVolume(*dead->AdminBridge());
        ASSERT_FALSE(inSource.empty() || inAdmin.empty());
        ASSERT_TRUE(dead->Cleaner().RegisterDisk(1, key, inSource, "", demo::kSourceAccount));
        ASSERT_TRUE(dead->Cleaner().RegisterDisk(1, key, inAdmin));
    }
    env.Clock().AdvanceMs(60 * 1000);
    // The proxy's account alone: the admin volume goes, the other stays
    // registered; with both accounts it goes too.
    for (const Accounts accounts : {Accounts::Admin, Accounts::SourceAndAdmin}) {
        const bool both = accounts == Accounts::SourceAndAdmin;
        auto next = Connected(accounts);
        ASSERT_TRUE(next);
        RestoreCtx rctx;
        ASSERT_EQ(1, next->RegisterCleanerForRestore(rctx));
        env.Clock().AdvanceMs(60 * 1000);
        EXPECT_TRUE(Volume(inAdmin).id.empty());
        const cloudsim::Volume left = Volume(inSource);
        EXPECT_EQ(both ? "" : "available", left.id.empty() ? "" : left.state) << both;
        std::vector<CleanerEntity> all;
        next->Cleaner().ListAll(all);
        EXPECT_EQ(!both, std::any_of(all.begin(), all.end(), [&](const CleanerEntity& e) { return e.id == inSource; }));
    }
}

// A job that dies mid-way (its object goes without an unmount) leaves its
// AMI in the instance's region; a hot-add job that cannot stage volumes for
// an instance of another region undoes its AMI there. Either way nothing of
// the job is left once the next job has started.
TEST_F(CleanupFixture, WhatAJobMadeIsRemovedInTheRegionItWasMadeIn) {
    TestEnv::SetSetting("VirtualServer", "nAmazonUseRestAPIForDirectSnapshotAccess", "false");
    const struct { const char* instance; const char* mode; Accounts accounts; int mounted; } rows[] = {
        {kWeb, "EBS-DIRECT-API", Accounts::SourceAndAdmin, 1},
        {kWest, "EBS-DIRECT-API", Accounts::SourceAndAdmin, 1},
        // Hot-add needs the proxy in the instance's account.
        {kWest, "HOTADD", Accounts::Source, 0},
    };
    for (const auto& row : rows) {
        const std::string what = std::string(row.instance) + " " + row.mode;
        if (row.accounts == Accounts::Source) cloud->Write([](cloudsim::State& s) { s.proxyInstanceId = kDb; });
        {
            auto dead = Connected(row.accounts);
            ASSERT_TRUE(dead);
            MountCtx ctx = Job(row.instance);
            ctx.transportMode = row.mode;
            ctx.mountPath = env.BaseDir() + "/mount";
            EXPECT_EQ(row.mounted, dead->MountVM(ctx)) << what << ": " << dead->GetLastVMErrorDetails();
        }
        env.Clock().AdvanceMs(10 * 60 * 1000);
        auto next = NextJob(row.accounts);
        ASSERT_TRUE(next) << what;
        env.Clock().AdvanceMs(60 * 1000);
        EXPECT_EQ(std::vector<std::string>{}, LiveImagesOf(row.instance)) << what;
        EXPECT_EQ("<none>", InstanceTag(row.instance, "_QX_AMI_")) << what;
        EXPECT_EQ(std::vector<std::string>{kDb}, StoreIds(*next)) << what;
    }
}

// AWS refuses to detach a volume that has no attachment: one that ended in
// "error", or was never attached, is deleted as it is. One that cannot be
// deleted yet stays registered and keeps none of the others.
TEST_F(CleanupFixture, StagedVolumesWithoutAttachmentAreDeletedOneByOne) {
    std::vector<std::string> volumes;
    {
        auto dead = JobOf(kWeb);
        ASSERT_TRUE(dead);
        for (const char* state : {"creating", "error", "available"}) {
            const std::string id = NewVolume(*dead->AdminBridge());
            ASSERT_FALSE(id.empty());
            env.Clock().AdvanceMs(60 * 1000);
            cloud->Write([&](cloudsim::State& s) { s.volumes.at(id).state = state; });
            ASSERT_TRUE(dead->Cleaner().RegisterDisk(0, kWeb, id));
            volumes.push_back(id);
        }
    }
    auto object = NextJob();
    ASSERT_TRUE(object);
    env.Clock().AdvanceMs(60 * 1000);
    EXPECT_FALSE(Volume(volumes[0]).id.empty());
    EXPECT_TRUE(Volume(volumes[1]).id.empty());
    EXPECT_TRUE(Volume(volumes[2]).id.empty());
    std::string path;
    ASSERT_TRUE(object->Cleaner().GetRegisteredVM(0, kWeb, path, true));
    std::vector<VMInfoStructs::SDisk> left;
    ASSERT_TRUE(object->Cleaner().GetRegisteredDisks(path, left));
    ASSERT_EQ(1u, left.size());
    EXPECT_EQ(volumes[0], left[0].newVolumeId);
}

// A restore into kWeb killed half-way: its root already replaced, its data
// volume detached and the new one not yet attached. The clean-up puts both
// old volumes back and deletes the new ones; once both new ones are in
// place, the replacement is complete and kept.
TEST_F(CleanupFixture, AVolumeReplacementLeftHalfWayIsRolledBackAndACompleteOneKept) {
    // Device -> volume and attachment state.
    auto Attachments = [&](const std::string& instance) {
        std::map<std::string, std::string> at;
        cloud->Read([&](const cloudsim::State& s) {
            for (const auto& [id, v] : s.volumes)
                if (v.attachedInstance == instance && v.state != "deleting")
                    at[v.attachedDevice] = id + " " + v.AttachmentState();
        });
        return at;
    };
    for (const bool complete : {false, true}) {
        SCOPED_TRACE(complete ? "complete" : "half-way");
        auto object = Connected();
        ASSERT_TRUE(object);
        RestoreCtx rctx;
        rctx.flavour = RestoreCtx::FullInstance;
        rctx.vmGuid = rctx.sourceGuid = kWeb;
        rctx.destRegion = "us-east-1";
        // A revert's volumes are the source account's, where the clean-up
        // then looks for them.
        rctx.restoreFromSnap = true;
        ASSERT_EQ(1, object->RegisterCleanerForRestore(rctx));
        const auto own = Attachments(kWeb);
        ASSERT_EQ(2u, own.size());
        std::map<std::string, std::string> made;   // device -> new volume
        for (const auto& [device, attached] : own) {
            const std::string volume = attached.substr(0, attached.find(' '));
            SVolumeReplacement r{kWeb, device, volume, NewVolume(*object->SourceBridge()), true};
            ASSERT_FALSE(r.newVolumeId.empty());
            made[device] = r.newVolumeId;
            ASSERT_TRUE(object->Cleaner().RegisterDisk(1, rctx.registrationGuid, r.newVolumeId));
            ASSERT_TRUE(object->Cleaner().RegisterVolumeReplacement(1, rctx.registrationGuid, r, "us-east-1"));
        }
        env.Clock().AdvanceMs(60 * 1000);
        cloud->Write([&](cloudsim::State& s) {
            auto& inst = s.instances.at(kWeb);
            inst.state = "stopped";
            inst.volumeIds.clear();
            for (const auto& [device, attached] : own) {
                auto& old = s.volumes.at(attached.substr(0, attached.find(' ')));
                old.attachedInstance = old.attachedDevice = "";
                old.state = "available";
                // Half-way: only the root has its new volume.
                if (!complete && device != "/dev/xvda") continue;
                auto& now = s.volumes.at(made[device]);
                now.attachedInstance = kWeb;
                now.attachedDevice = device;
                now.state = "in-use";
                inst.volumeIds.push_back(now.id);
            }
        });
        EXPECT_EQ(1, object->CleanupRestoreVM(rctx)) << object->GetLastVMErrorDetails();
        env.Clock().AdvanceMs(10 * 60 * 1000);
        std::map<std::string, std::string> expected;
        for (const auto& [device, attached] : own)
            expected[device] = (complete ? made[device] + " attached" : attached);
        EXPECT_EQ(expected, Attachments(kWeb));
        for (const auto& [device, attached] : own) {
            const std::string old = attached.substr(0, attached.find(' '));
            // Complete: the old volume is kept, detached; else the new one
            // is gone.
            if (complete) {
                EXPECT_EQ("available", Volume(old).state) << old;
            } else {
                EXPECT_TRUE(Volume(made[device]).id.empty()) << made[device];
            }
        }
        if (!complete) {
            EXPECT_NE("stopped", Instance(kWeb).state);
        }
        EXPECT_TRUE(StoreIds(*object).empty());
    }
}
