// The persistent cleanup store: what one process registers, the next finds;
// a VM entry is orphaned exactly when its job is not running any more.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "framework/VMCleaner.h"
#include "support/TestEnv.h"

namespace {
std::vector<std::string> Ids(const std::vector<CleanerEntity>& items) {
    std::vector<std::string> ids;
    for (const auto& e : items) ids.push_back(e.id);
    return ids;
}
}  // namespace

TEST(VMCleaner, RegisteringTwiceKeepsOneEntryAndChildrenComeBackInOrder) {
    TestEnv env;
    VMCleaner store;
    ASSERT_TRUE(store.Init("i-proxy", 0));
    std::string root;
    ASSERT_TRUE(store.RegisterEntity(0, "", 1, "i-vm", &root));
    ASSERT_TRUE(store.RegisterEntity(0, "", 1, "i-vm", nullptr));
    for (const char* id : {"vol-b", "vol-a", "vol-b", "weird/id%x"}) ASSERT_TRUE(store.RegisterEntity(0, root, 3, id, nullptr));
    ASSERT_TRUE(store.RegisterEntity(0, root, 2, "snap-1", nullptr));

    std::vector<CleanerEntity> all;
    ASSERT_TRUE(store.ListAll(all));
    EXPECT_EQ(5u, all.size());
    std::vector<CleanerEntity> disks;
    ASSERT_TRUE(store.FillItemsFromCleanerPath(root, 3, disks));
    EXPECT_EQ((std::vector<std::string>{"vol-b", "vol-a", "weird/id%x"}), Ids(disks));

    // A child's handle is where it was registered; unregistering it once works.
    CleanerEntity vm;
    ASSERT_TRUE(store.LookupEntity(0, 1, "i-vm", vm));
    EXPECT_TRUE(store.UnRegisterEntity(store.ConstructHandle(vm, 3, "weird/id%x"), false));
    EXPECT_FALSE(store.UnRegisterEntity(store.ConstructHandle(vm, 3, "weird/id%x"), false));
    // The same id under another mode or owner is another entry.
    EXPECT_FALSE(store.LookupEntity(1, 1, "i-vm", vm));
    VMCleaner other;
    ASSERT_TRUE(other.Init("i-other-proxy", 0));
    EXPECT_FALSE(other.LookupEntity(0, 1, "i-vm", vm));

    // A VM with entries under it stays unless they are dropped with it.
    EXPECT_FALSE(store.UnRegisterEntity(root, false));
    ASSERT_TRUE(store.ListAll(all));
    EXPECT_EQ(4u, all.size());
    ASSERT_TRUE(store.UnRegisterEntity(root, true));
    ASSERT_TRUE(store.ListAll(all));
    EXPECT_TRUE(all.empty());
}

TEST(VMCleaner, EntriesOfAnEndedJobAreOrphanedAndAReRegistrationAdoptsThem) {
    TestEnv env;
    {
        VMCleaner job1;
        job1.SetJobId(1);
        ASSERT_TRUE(job1.Init("i-proxy", 0));
        ASSERT_TRUE(job1.RegisterEntity(0, "", 1, "i-vm1", nullptr));
        VMCleaner job2;
        job2.SetJobId(2);
        ASSERT_TRUE(job2.Init("i-proxy", 0));
        // job1 still runs: nothing is orphaned for job2.
        EXPECT_FALSE(job2.IsCleanupNeeded(0));
    }
    VMCleaner job3;
    job3.SetJobId(3);
    ASSERT_TRUE(job3.Init("i-proxy", 0));
    std::vector<CleanerEntity> orphans;
    ASSERT_TRUE(job3.GetOrphanedEntities(0, 1, orphans));
    EXPECT_EQ(std::vector<std::string>{"i-vm1"}, Ids(orphans));
    EXPECT_FALSE(job3.IsCleanupNeeded(1));
    ASSERT_TRUE(job3.RegisterEntity(0, "", 1, "i-vm1", nullptr));
    EXPECT_FALSE(job3.IsCleanupNeeded(0));
}

TEST(VMCleaner, AKilledProcessLeavesOrphansTheNextProcessFinds) {
    TestEnv env;
    VMCleaner survivor;
    ASSERT_TRUE(survivor.Init("i-proxy", 0));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        VMCleaner dying;
        dying.SetJobId(77);
        std::string root;
        const bool ok = dying.Init("i-proxy", 0) && dying.RegisterEntity(0, "", 1, "i-dead", &root) &&
                        dying.RegisterEntity(0, root, 3, "vol-left", nullptr);
        if (!ok) _exit(3);
        raise(SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFSIGNALED(status));

    std::vector<CleanerEntity> orphans;
    ASSERT_TRUE(survivor.GetOrphanedEntities(0, 1, orphans));
    ASSERT_EQ(1u, orphans.size());
    EXPECT_EQ("i-dead", orphans[0].id);
    EXPECT_EQ(77, orphans[0].jobId);
    std::vector<CleanerEntity> disks;
    ASSERT_TRUE(survivor.FillItemsFromCleanerPath(orphans[0].path, 3, disks));
    EXPECT_EQ(std::vector<std::string>{"vol-left"}, Ids(disks));
}

TEST(VMCleaner, NothingWorksBeforeInit) {
    TestEnv env;
    VMCleaner store;
    EXPECT_FALSE(store.Init("", 0)) << "no later job would find entries under no owner";
    std::vector<CleanerEntity> items;
    EXPECT_FALSE(store.RegisterEntity(0, "", 1, "i-vm", nullptr));
    EXPECT_FALSE(store.GetOrphanedEntities(0, 1, items));
    EXPECT_FALSE(store.IsCleanupNeeded(0));
}
