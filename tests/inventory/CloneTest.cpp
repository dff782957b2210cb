// Cloning on the demo account: a temporary AMI, a new instance launched from
// it, and never an AMI left behind or an instance removed that the clone did
// not make.
#include "InventoryFixtures.h"

using namespace inventorytest;
using VMInfoStructs::SVMInfo;

namespace {
const std::string kDb = "i-0a1b2c3d4e5f60002";

struct Clone : CloudFixture {
    size_t imagesBefore = 0;
    void SetUp() override {
        CloudFixture::SetUp();
        imagesBefore = LiveImages();
    }
    SVMInfo Request(const std::string& source = kWeb) {
        SVMInfo vm;
        vm.name = "web-clone";
        vm.region = "us-east-1";
        vm.instanceType = "t3.medium";
        vm.sourceId = source;
        return vm;
    }
    // AMIs of the account that are not deregistered.
    size_t LiveImages() {
        return Peek([](const cloudsim::State& s) {
            size_t n = 0;
            for (const auto& [id, image] : s.images)
                n += image.account == demo::kSourceAccount && image.state != "deregistered";
            return n;
        });
    }
    size_t InstancesNamed(const std::string& name) {
        return Peek([&](const cloudsim::State& s) {
            size_t n = 0;
            for (const auto& [id, inst] : s.instances)
                n += inst.state != "terminated" && inst.tags.count("Name") && inst.tags.at("Name") == name;
            return n;
        });
    }
};
}  // namespace

TEST_F(Clone, LaunchesACopyAndRemovesItsTemporaryAMI) {
    SVMInfo vm = Request();
    ASSERT_TRUE(object.CloneVM(vm)) << object.GetLastVMErrorDetails();
    EXPECT_EQ(0u, vm.guid.rfind("i-", 0));
    EXPECT_NE(kWeb, vm.guid);
    EXPECT_EQ("web-clone", vm.name);
    EXPECT_EQ(2u, vm.disks.size());
    EXPECT_EQ(1u, InstancesNamed("web-clone"));
    EXPECT_EQ(imagesBefore, LiveImages());
    EXPECT_TRUE(log.Has("Cloning VM [web-clone] from [" + kWeb + "]"));
    // The clone is handed over: nothing of it is left to a clean-up.
    std::vector<CleanerEntity> entries;
    ASSERT_TRUE(object.Cleaner().ListAll(entries));
    EXPECT_TRUE(entries.empty());
}

// The temporary AMI is registered before the clone waits for it: one the
// clone could not delete is still known to the next job's clean-up.
TEST_F(Clone, AnAMITheCloneCouldNotDeleteIsLeftToTheNextCleanup) {
    const cloudsim::FaultRule failures[] = {{"CreateAMISnapshot", 0, "", 0, "stuck"},
                                            {"CreateVirtualMachine", 0, kThrottled}};
    for (const auto& failure : failures) {
        cloud->ClearFaults();
        cloud->AddFault(failure);
        cloud->AddFault({"DeleteAMISnapshot", 0, kThrottled});
        {
            CAmazonInfo clone(kAmazonInstanceType);
            ASSERT_EQ(1, ConnectDemo(clone));
            SVMInfo vm = Request();
            EXPECT_FALSE(clone.CloneVM(vm));
        }
        EXPECT_EQ(imagesBefore + 1, LiveImages()) << failure.operation;
        cloud->ClearFaults();
        CAmazonInfo next(kAmazonInstanceType);
        ASSERT_EQ(1, ConnectDemo(next));
        MountCtx job;
        job.requestedVMGuid = kDb;
        ASSERT_EQ(1, next.RegisterCleanerForBackup(job));
        EXPECT_EQ(imagesBefore, LiveImages()) << failure.operation;
        EXPECT_EQ(0u, InstancesNamed("web-clone")) << failure.operation;
    }
}

TEST_F(Clone, TheAMIIsAwaitedInTheSourceAccountWhenAnAdminAccountIsSet) {
    ConnectObject(Accounts::SourceAndAdmin);
    SVMInfo vm = Request();
    EXPECT_TRUE(object.CloneVM(vm)) << object.GetLastVMErrorDetails();
    EXPECT_EQ(imagesBefore, LiveImages());
}

TEST_F(Clone, WorksInARegionOtherThanTheConnectedOne) {
    SVMInfo vm = Request("i-0a1b2c3d4e5f60004");
    vm.region = "us-west-2";
    vm.instanceType = "c5.2xlarge";
    ASSERT_TRUE(object.CloneVM(vm)) << object.GetLastVMErrorDetails();
    EXPECT_EQ("us-west-2", vm.region);
    EXPECT_EQ(imagesBefore, LiveImages());
    EXPECT_EQ("us-east-1", object.SourceBridge()->GetCurrentRegion());
}

TEST_F(Clone, MissingSourceOrOSDiskFailsBeforeAnyAMI) {
    SVMInfo vm = Request("i-00000000000000bad");
    EXPECT_FALSE(object.CloneVM(vm));
    EXPECT_EQ(1, object.GetLastVMError());
    EXPECT_EQ("Source virtual machine [i-00000000000000bad] is not found. Please specify an existing virtual machine.",
              object.GetLastVMErrorDetails());

    cloud->Write([](cloudsim::State& s) { s.instances.at(kDb).volumeIds.clear(); });
    vm = Request(kDb);
    EXPECT_FALSE(object.CloneVM(vm));
    EXPECT_EQ(20, object.GetLastVMError());
    EXPECT_EQ("No OS disk found.", object.GetLastVMErrorDetails());
    EXPECT_EQ(imagesBefore, LiveImages());
}

TEST_F(Clone, EveryFailureAfterTheAMIRequestLeavesNoAMI) {
    struct Case {
        cloudsim::FaultRule fault;
        EVMInfoError code;
        const char* cancelAt = nullptr;   // the job is cancelled once a log line starts so
    };
    const std::vector<Case> cases = {
        {{"CreateAMISnapshot", 0, kThrottled}, 17},
        {{"CreateAMISnapshot", 0, "", 0, "error"}, 17},
        {{"CreateAMISnapshot", 0, "", 0, "stuck"}, 17},   // the wait times out
        {{"CreateAMISnapshot", 0, "", 0, "stuck"}, 4000, "Waiting for completion of AMI ["},
        {{"CreateAMISnapshot", 0, "", 0, "error"}, 4000, "Create AMI task ["},   // as the wait fails
        {{"CreateVirtualMachine", 0, kThrottled}, 20},
    };
    for (const auto& c : cases) {
        cloud->ClearFaults();
        cloud->AddFault(c.fault);
        object.SetJobCancelled(false);
        log.OnLine([&](const std::string& m) {
            if (c.cancelAt && m.rfind(c.cancelAt, 0) == 0) object.SetJobCancelled(true);
        });
        SVMInfo vm = Request();
        EXPECT_FALSE(object.CloneVM(vm)) << c.fault.operation << "/" << c.fault.kind;
        EXPECT_EQ(c.code, object.GetLastVMError()) << c.fault.operation << "/" << c.fault.kind;
        if (c.cancelAt) {
            EXPECT_EQ("Job interrupted", object.GetLastVMErrorDetails());
        }
        EXPECT_EQ(imagesBefore, LiveImages()) << c.fault.operation << "/" << c.fault.kind;
        EXPECT_EQ(0u, InstancesNamed("web-clone"));
    }
    EXPECT_TRUE(log.Has("Failed to clone VM [web-clone] to AWS : Error  [" + kThrottled + "]"));
}

TEST_F(Clone, FailedCloneOperationKeepsAnInstanceItDidNotMakeAndItsOwnError) {
    cloud->AddFault({"CreateVirtualMachine", 0, kThrottled});
    SVMInfo vm = Request();
    vm.guid = kDb;   // the record names an existing instance
    std::string out;
    EXPECT_EQ(1, object.PerformVMOperation(vm, 6, out));
    EXPECT_EQ(20, object.GetLastVMError());
    EXPECT_EQ(kThrottled, object.GetLastVMErrorDetails());
    EXPECT_EQ("running", Instance(kDb).state);
    EXPECT_EQ(3u, Instance(kDb).volumeIds.size());
    EXPECT_TRUE(log.Has("CloneVM failed for VM[web-clone]"));
    EXPECT_EQ(imagesBefore, LiveImages());
}

namespace {
// A bridge whose launch creates the instance and then reports a failure, as
// a launch does whose later step (naming, tagging) fails.
class HalfLaunchBridge : public CAmazonSDKBridge {
public:
    bool CreateVirtualMachine(VMInfoStructs::SVMInfo& vm, std::string& out, bool creationFlag) override {
        if (!CAmazonSDKBridge::CreateVirtualMachine(vm, out, creationFlag)) return false;
        m_failed = true;
        return false;
    }
    std::string GetLastErrorString() const override {
        return m_failed ? "InternalError: the instance could not be named" : CAmazonSDKBridge::GetLastErrorString();
    }

private:
    bool m_failed = false;
};
}  // namespace

TEST_F(Clone, FailedCloneOperationDeletesTheInstanceItLaunched) {
    CAmazonInfo half(kAmazonInstanceType, [] { return std::make_unique<HalfLaunchBridge>(); });
    ASSERT_EQ(1, ConnectDemo(half));
    SVMInfo vm = Request();
    std::string out;
    EXPECT_EQ(1, half.PerformVMOperation(vm, 6, out));
    EXPECT_EQ(20, half.GetLastVMError());
    EXPECT_EQ("InternalError: the instance could not be named", half.GetLastVMErrorDetails());
    env.Clock().AdvanceMs(10 * 60 * 1000);
    EXPECT_EQ(0u, InstancesNamed("web-clone"));
    EXPECT_EQ(imagesBefore, LiveImages());
}
