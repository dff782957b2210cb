#include <gtest/gtest.h>

#include "framework/BiosInfo.h"
#include "framework/EvDebug.h"
#include "framework/VMInfo.h"
#include "support/TestEnv.h"

namespace {
// Exposes the protected services a plug-in uses.
struct TestVM : CVMInfo {
    TestVM() : CVMInfo(7) {}
    using CVMInfo::getBiosInfo;
    using CVMInfo::IsNewHostDiscoveryReq;
    using CVMInfo::ResetCaches;
    void AddZone() { m_hostCache.emplace_back(); }
};
const std::string kMountNotSupported = "[MountVM] is not supported by this hypervisor";
}  // namespace

TEST(CVMInfo, DefaultSlotsReportNotSupported) {
    TestEnv env;
    std::vector<std::pair<int, std::string>> logged;
    EvDebug::SetTap([&](int level, const std::string&, const std::string& m) { logged.emplace_back(level, m); });
    TestVM vm;
    MountCtx ctx;
    EXPECT_EQ(0, vm.MountVM(ctx));
    EXPECT_EQ(kErrNotSupported, vm.GetLastVMError());
    EXPECT_EQ(kMountNotSupported, vm.GetLastVMErrorDetails());
    EXPECT_EQ((std::vector<std::pair<int, std::string>>{{0, kMountNotSupported}}), logged);
    StorageOperationCtx sctx;
    EXPECT_EQ(1, vm.PerformStorageOperation(sctx)) << "success is 0 for this slot";
    EXPECT_EQ("", vm.GetSnapMountInfo());
    EXPECT_EQ(0, vm._RefreshDCInfoCache(0, 0));
    EXPECT_EQ("[_RefreshDCInfoCache] is not supported by this hypervisor", vm.GetLastVMErrorDetails());
    vm.SetLastVMError(0);
    EXPECT_EQ(1, vm.GetStreamLimit());
    EXPECT_EQ(0, vm.GetLastVMError()) << "a stream limit is not an error";
}

TEST(CVMInfo, ErrorStateAndCancellation) {
    TestEnv env;
    TestVM vm, other;
    vm.SetLastVMError(17, "boom");
    vm.SetLastVMError(18);
    EXPECT_EQ(18, vm.GetLastVMError());
    EXPECT_EQ("boom", vm.GetLastVMErrorDetails()) << "only 0 clears the text";
    vm.SetLastVMError(0);
    EXPECT_EQ("", vm.GetLastVMErrorDetails());
    vm.SetJobCancelled(true);
    EXPECT_TRUE(vm.IsJobCancelled());
    EXPECT_FALSE(other.IsJobCancelled());
    CVMInfo::SetProcessJobCancelled(true);
    EXPECT_TRUE(other.IsJobCancelled());
    CVMInfo::SetProcessJobCancelled(false);
    vm.SetJobCancelled(false);
    EXPECT_FALSE(other.IsJobCancelled() || vm.IsJobCancelled());
}

TEST(CVMInfo, FailuresCachesJobIdAndBios) {
    TestEnv env;
    EvEvent::setProcessJobId(4711);
    TestVM vm;
    EvEvent::setProcessJobId(EvEvent::kNoJob);
    EXPECT_EQ(4711, vm.GetEventContext().getJobId());
    EXPECT_EQ(EvEvent::kNoJob, TestVM().GetEventContext().getJobId());
    EXPECT_EQ(7, vm.GetInstanceType());

    vm.AddFailure("disk1", "gone");
    vm.AddMountFailure("vm1", "busy", true);
    vm.AddRestoreFailure("vm2", "denied");
    std::string all;
    for (const auto& f : vm.GetFailures())
        all += f.item + "," + f.reason + "," + f.extra1 + "," + f.extra2 + "," + (f.flag ? "1" : "0") + ";";
    EXPECT_EQ("disk1,gone,,,0;vm1,busy,Mount,,1;vm2,denied,Restore,,0;", all);

    EXPECT_TRUE(vm.IsNewHostDiscoveryReq());
    vm.AddZone();
    EXPECT_EQ(1, vm._RefreshHostInfoCache(0, 0));
    EXPECT_FALSE(vm.IsNewHostDiscoveryReq());
    vm.ResetCaches();
    EXPECT_TRUE(vm.IsNewHostDiscoveryReq() && vm.GetHostInfoCache().empty());

    FwBios::SetOverride(FwBiosValues{"Amazon EC2", "t3.micro", "ec2-uuid", "1.0"});
    std::string m, p, u, v;
    ASSERT_TRUE(vm.getBiosInfo(m, p, u, v));
    EXPECT_EQ("Amazon EC2|t3.micro|ec2-uuid|1.0", m + "|" + p + "|" + u + "|" + v);
    FwBios::SetOverride(std::nullopt, false);
    EXPECT_FALSE(vm.getBiosInfo(m, p, u, v));
}
