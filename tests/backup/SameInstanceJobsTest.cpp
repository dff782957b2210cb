// Two jobs of one instance on one proxy: every start-up clean-up that finds
// AMIs by the instance's tags, by name or through a dead job's entry leaves
// alone what another job still running made or reads, and takes it once
// that job has ended.
#include <gtest/gtest.h>

#include "common/TagNames.h"
#include "framework/Clock.h"
#include "framework/MessageBase.h"
#include "support/ConnectedFixture.h"

namespace {
const char kWeb[] = "i-0a1b2c3d4e5f60001";  // web-server-01, us-east-1a
const char kCbtName[] = "KD_CBT_Snap";

std::string ChangeId(const std::string& reference) {
    CNMessageBase info("VirtualServer::VMReferencePointInfo");
    info.SetString(1, reference);
    info.SetString(3, reference);
    std::string text;
    EXPECT_EQ(CNMessageBase::kOk, info.Serialize(text));
    return text;
}

struct SameInstanceJobs : DemoCloudFixture {
    void SetUp() override { OnAnEC2Proxy(); }

    static MountCtx Job(const std::string& changeId = "") {
        MountCtx ctx;
        ctx.requestedVMGuid = ctx.effectiveVMGuid = kWeb;
        ctx.vm.guid = kWeb;
        ctx.vm.region = "us-east-1";
        ctx.cbtEnabled = !changeId.empty();
        ctx.changeId = changeId;
        return ctx;
    }

    // An AMI of the instance as staging leaves it; as a chain's reference
    // once a backup has landed.
    static std::string MakeAMI(CAmazonInfo& object, bool reference) {
        std::vector<std::string> snapshots;
        std::string ami;
        auto* bridge = object.SourceBridge();
        EXPECT_TRUE(bridge->CreateAMISnapshot(kWeb, "", AmazonTags::kBackupTag, "", "", snapshots, ami));
        EXPECT_TRUE(bridge->SetTag(ami, AmazonTags::kBackupTag, kWeb, true) &&
                    bridge->SetTag(ami, AmazonTags::kSubclientTag, "0", true));
        if (reference) {
            EXPECT_TRUE(bridge->SetTag(ami, "Name", kCbtName, true));
        }
        return ami;
    }
};
}  // namespace

TEST_F(SameInstanceJobs, AStartUpCleanUpLeavesWhatALiveJobOfTheInstanceHolds) {
    TestEnv::SetSetting("VirtualServer", "nExpireSnapshotHours", "1");
    enum class Finds { InstanceList, ChainName, CleanupString, DeadJobEntry };
    const struct {
        const char* what;
        Finds finds;
    } rows[] = {
        {"an AMI on the instance's list, past its expiry", Finds::InstanceList},
        {"another chain's reference the job reads", Finds::ChainName},
        {"the AMI the instance's cleanup string names", Finds::CleanupString},
        {"a reference a dead job marked for deletion", Finds::DeadJobEntry},
    };
    for (const auto& row : rows) {
        for (const bool firstEnded : {false, true}) {
            const std::string label = std::string(row.what) + (firstEnded ? ", first job ended" : ", first job live");
            auto first = Connected(Accounts::SourceAndAdmin);
            auto second = Connected(Accounts::SourceAndAdmin);
            ASSERT_TRUE(first && second);
            const bool reads = row.finds == Finds::ChainName || row.finds == Finds::DeadJobEntry;
            const std::string ami = MakeAMI(*first, reads);
            if (row.finds == Finds::DeadJobEntry) {
                auto dead = Connected(Accounts::SourceAndAdmin);
                MountCtx earlier = Job();
                ASSERT_TRUE(dead->RegisterCleanerForBackup(earlier));
                ASSERT_TRUE(dead->Cleaner().RegisterTemplate(VM_CLEANER_BACKUP, kWeb, ami, "us-east-1"));
                dead->Cleaner().DeInit();
            }
            MountCtx firstJob = Job(reads ? ChangeId(ami) : "");
            ASSERT_TRUE(first->RegisterCleanerForBackup(firstJob)) << label;
            if (!reads) {
                ASSERT_TRUE(first->Cleaner().RegisterTemplate(VM_CLEANER_BACKUP, kWeb, ami, "us-east-1"));
                ASSERT_TRUE(first->SourceBridge()->SetTag(kWeb, AmazonTags::kAMITag, ami, false));
            }
            env.Clock().AdvanceMs(2LL * 3600 * 1000);
            if (firstEnded) first->Cleaner().DeInit();

            MountCtx secondJob = Job();
            secondJob.cleanupString = row.finds == Finds::CleanupString ? ami : "";
            ASSERT_TRUE(second->RegisterCleanerForBackup(secondJob)) << label;
            if (row.finds == Finds::ChainName) second->DeleteExpiredCBTSnapshot(secondJob);
            if (row.finds == Finds::CleanupString) second->CleanupVM(secondJob);
            env.Clock().AdvanceMs(60 * 1000);
            // The dead job's mark went with the first job's own start-up,
            // which read the AMI: it is the chain's reference again.
            const bool kept = !firstEnded || row.finds == Finds::DeadJobEntry;
            EXPECT_EQ(kept, ImageLives(ami)) << label;
            if (row.finds == Finds::InstanceList) {
                EXPECT_EQ(firstEnded ? "<none>" : ami, InstanceTag(kWeb, AmazonTags::kAMITag)) << label;
            }
            if (!firstEnded) {
                ASSERT_TRUE(first->UnmountVM(firstJob)) << label << ": " << first->GetLastVMErrorDetails();
            }
            second->UnmountVM(secondJob);
            // A held AMI is let go with its job, never deleted by it.
            EXPECT_EQ(reads && kept, ImageLives(ami)) << label;
            if (ImageLives(ami)) first->SourceBridge()->DeleteAMISnapshot(ami, true);
            first->SourceBridge()->DeleteTag(kWeb, AmazonTags::kAMITag, "", true);
        }
    }
}

// The cloud no longer knows a deregistered AMI: deregistering it again, by
// age or outright, says so, and a clean-up takes that for "gone".
TEST_F(SameInstanceJobs, ADeregisteredAMIIsNotFoundByEitherDeregistration) {
    auto object = Connected(Accounts::SourceAndAdmin);
    ASSERT_TRUE(object);
    const std::string ami = MakeAMI(*object, false);
    auto* bridge = object->SourceBridge();
    ASSERT_TRUE(bridge->DeleteAMISnapshot(ami, true));
    EXPECT_FALSE(bridge->DeleteAMISnapshot(ami, true));
    EXPECT_NE(std::string::npos, bridge->GetLastErrorString().find("InvalidAMIID.NotFound"));
    EXPECT_FALSE(bridge->DeleteExpiredAMISnapshot(ami, true, 0));
    EXPECT_NE(std::string::npos, bridge->GetLastErrorString().find("InvalidAMIID.NotFound"));
}
