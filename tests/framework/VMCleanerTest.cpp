// The persistent cleanup store: what one process registers, the next finds;
// a VM entry is orphaned exactly when its job is not running any more.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sqlite3.h>

#include "framework/FileUtils.h"
#include "framework/VMCleaner.h"
#include "support/TestEnv.h"

namespace {
std::vector<std::string> Ids(const std::vector<CleanerEntity>& items) {
    std::vector<std::string> ids;
    for (const auto& e : items) ids.push_back(e.id);
    return ids;
}

// Runs a job in a child process that does its work on a fresh store and is
// then killed, as a proxy that dies mid-job; true when it died by the signal.
template <typename Work>
bool RunKilledJob(Work work) {
    const pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        VMCleaner dying;
        if (!work(dying)) _exit(3);
        raise(SIGKILL);
    }
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFSIGNALED(status);
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

TEST(VMCleaner, EachJobRunOwnsItsEntryOfAVMAndAnEndedRunsEntryStaysOrphaned) {
    TestEnv env;
    VMCleaner job2;
    job2.SetJobId(2);
    {
        VMCleaner job1;
        job1.SetJobId(1);
        ASSERT_TRUE(job1.Init("i-proxy", 0));
        std::string root1, root2;
        ASSERT_TRUE(job1.RegisterEntity(0, "", 1, "i-vm1", &root1, "us-west-2"));
        ASSERT_TRUE(job1.RegisterEntity(0, root1, 4, "ami-1", nullptr, "us-west-2"));
        ASSERT_TRUE(job2.Init("i-proxy", 0));
        ASSERT_TRUE(job2.RegisterEntity(0, "", 1, "i-vm1", &root2));
        EXPECT_NE(root1, root2);
        // Each finds its own entry, with its own children and region.
        CleanerEntity vm;
        ASSERT_TRUE(job2.LookupEntity(0, 1, "i-vm1", vm));
        EXPECT_EQ(root2, vm.path);
        std::vector<CleanerEntity> amis;
        ASSERT_TRUE(job2.FillItemsFromCleanerPath(vm.path, 4, amis));
        EXPECT_TRUE(amis.empty());
        ASSERT_TRUE(job1.LookupEntity(0, 1, "i-vm1", vm));
        EXPECT_EQ("us-west-2", vm.region);
        ASSERT_TRUE(job1.FillItemsFromCleanerPath(vm.path, 4, amis));
        ASSERT_EQ(1u, amis.size());
        EXPECT_EQ("us-west-2", amis[0].region);
        std::vector<CleanerEntity> roots;
        ASSERT_TRUE(job2.ListRootEntities(0, 1, "i-vm1", roots));
        EXPECT_EQ(2u, roots.size());
        // job1 still runs: nothing is orphaned for job2.
        EXPECT_FALSE(job2.IsCleanupNeeded(0));
    }
    std::vector<CleanerEntity> orphans;
    ASSERT_TRUE(job2.GetOrphanedEntities(0, 1, orphans));
    ASSERT_EQ(1u, orphans.size());
    EXPECT_EQ(1, orphans[0].jobId);
    // Registering the VM again does not take the ended run's entry over.
    VMCleaner job3;
    job3.SetJobId(3);
    ASSERT_TRUE(job3.Init("i-proxy", 0));
    ASSERT_TRUE(job3.RegisterEntity(0, "", 1, "i-vm1", nullptr));
    ASSERT_TRUE(job3.GetOrphanedEntities(0, 1, orphans));
    EXPECT_EQ(std::vector<std::string>{"i-vm1"}, Ids(orphans));
    EXPECT_FALSE(job3.IsCleanupNeeded(1));
}

// A killed job's entry, with what it registered under it, is an orphan to
// the next process, while a live job's is not; also where /proc is mounted
// with hidepid and shows no other process's start time, nor, to the job
// itself, its own: then the pid and the end mark decide.
TEST(VMCleaner, AKilledJobLeavesOrphansTheNextProcessFindsAndALiveJobDoesNot) {
    for (const bool hidepid : {false, true}) {
        SCOPED_TRACE(hidepid ? "hidepid" : "plain /proc");
        TestEnv env;
        if (hidepid) {
            ASSERT_TRUE(FwFile::MakeDirs(env.BaseDir() + "/proc-hidepid"));
            TestEnv::SetSetting("Base", "sProcFolder", env.BaseDir() + "/proc-hidepid");
        }
        VMCleaner observer;
        ASSERT_TRUE(observer.Init("i-proxy", 0));
        ASSERT_TRUE(RunKilledJob([](VMCleaner& dying) {
            dying.SetJobId(77);
            std::string root;
            return dying.Init("i-proxy", 0) && dying.RegisterEntity(0, "", 1, "i-killed", &root) &&
                   dying.RegisterEntity(0, root, 3, "vol-left", nullptr);
        }));

        std::vector<CleanerEntity> orphans, disks;
        {
            VMCleaner live;
            ASSERT_TRUE(live.Init("i-proxy", 0));
            ASSERT_TRUE(live.RegisterEntity(0, "", 1, "i-live", nullptr));
            ASSERT_TRUE(observer.GetOrphanedEntities(0, 1, orphans));
            ASSERT_EQ(std::vector<std::string>{"i-killed"}, Ids(orphans));
        }
        EXPECT_EQ(77, orphans[0].jobId);
        ASSERT_TRUE(observer.FillItemsFromCleanerPath(orphans[0].path, 3, disks));
        EXPECT_EQ(std::vector<std::string>{"vol-left"}, Ids(disks));
        ASSERT_TRUE(observer.GetOrphanedEntities(0, 1, orphans));
        EXPECT_EQ((std::vector<std::string>{"i-killed", "i-live"}), Ids(orphans));
    }
}

TEST(VMCleaner, JobRunsThatEndedWithNothingRegisteredAreForgotten) {
    TestEnv env;
    for (int job = 1; job <= 3; ++job) {
        VMCleaner run;
        run.SetJobId(job);
        ASSERT_TRUE(run.Init("i-proxy", 0));
        if (job == 2) {
            ASSERT_TRUE(run.RegisterEntity(0, "", 1, "i-kept", nullptr));
        }
    }
    ASSERT_TRUE(RunKilledJob([](VMCleaner& dying) { return dying.Init("i-proxy", 0); }));
    VMCleaner next;
    next.SetJobId(4);
    ASSERT_TRUE(next.Init("i-proxy", 0));
    std::vector<std::string> keys;
    ASSERT_TRUE(next.ListJobKeys(keys));
    ASSERT_EQ(2u, keys.size());
    int jobs = 0;
    for (const auto& key : keys) jobs += key.find(":2:") != std::string::npos || key.find(":4:") != std::string::npos;
    EXPECT_EQ(2, jobs);
}

// Stores written before regions and accounts were kept: their entries read
// back with empty ones and new ones can be added beside them.
TEST(VMCleaner, AStoreWithoutRegionsOrAccountsIsReadAndExtended) {
    TestEnv env;
    ASSERT_TRUE(FwFile::MakeDirs(env.BaseDir() + "/Cleaner"));
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(VMCleaner::DatabasePath().c_str(), &db));
    const char* old =
        "CREATE TABLE entities(seq INTEGER PRIMARY KEY AUTOINCREMENT, owner TEXT NOT NULL, mode INTEGER NOT NULL,"
        " type INTEGER NOT NULL, entity_id TEXT NOT NULL, parent TEXT NOT NULL, path TEXT NOT NULL,"
        " job_key TEXT NOT NULL, job_id INTEGER NOT NULL, UNIQUE(owner, path));"
        "CREATE TABLE jobs(job_key TEXT PRIMARY KEY, pid INTEGER NOT NULL, start INTEGER NOT NULL,"
        " job_id INTEGER NOT NULL, ended INTEGER NOT NULL DEFAULT 0);"
        "INSERT INTO jobs VALUES('1:1:9:old', 1, 1, 9, 1);"
        "INSERT INTO entities(owner, mode, type, entity_id, parent, path, job_key, job_id)"
        " VALUES('i-proxy', 0, 1, 'i-vm', '', '0/1/i-vm', '1:1:9:old', 9),"
        " ('i-proxy', 0, 4, 'ami-old', '0/1/i-vm', '0/1/i-vm/4/ami-old', '1:1:9:old', 9);";
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, old, nullptr, nullptr, nullptr));
    sqlite3_close(db);

    VMCleaner store;
    ASSERT_TRUE(store.Init("i-proxy", 0));
    std::vector<CleanerEntity> orphans, amis;
    ASSERT_TRUE(store.GetOrphanedEntities(0, 1, orphans));
    ASSERT_EQ(1u, orphans.size());
    ASSERT_TRUE(store.FillItemsFromCleanerPath(orphans[0].path, 4, amis));
    ASSERT_EQ(1u, amis.size());
    EXPECT_EQ("ami-old", amis[0].id);
    EXPECT_EQ("", amis[0].region);
    EXPECT_EQ("", amis[0].account);
    ASSERT_TRUE(store.RegisterEntity(0, orphans[0].path, 2, "snap-new", nullptr, "eu-west-1", "210987654321"));
    ASSERT_TRUE(store.FillItemsFromCleanerPath(orphans[0].path, 2, amis));
    ASSERT_EQ(1u, amis.size());
    EXPECT_EQ("eu-west-1", amis[0].region);
    EXPECT_EQ("210987654321", amis[0].account);
    // A second registration of the entry says where it lives now.
    ASSERT_TRUE(store.RegisterEntity(0, orphans[0].path, 2, "snap-new", nullptr, "eu-west-1", ""));
    ASSERT_TRUE(store.FillItemsFromCleanerPath(orphans[0].path, 2, amis));
    EXPECT_EQ("", amis[0].account);
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
