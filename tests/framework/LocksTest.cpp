#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "framework/FileUtils.h"
#include "framework/Locks.h"
#include "support/TestEnv.h"

namespace {
// Exit code of f run in a forked child.
template <class F>
int InChild(F f) {
    pid_t pid = fork();
    if (pid == 0) _exit(f());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}
}  // namespace

TEST(NamedMutex, ExcludesOtherThreadsOfTheProcess) {
    TestEnv env;
    NamedMutex held("job");
    ASSERT_TRUE(held.Lock());
    bool sameGot = true, unrelatedGot = false;
    std::thread([&] {
        sameGot = NamedMutex("job").TryLock();
        unrelatedGot = NamedMutex("other").TryLock();
    }).join();
    EXPECT_FALSE(sameGot);
    EXPECT_TRUE(unrelatedGot);
    held.Unlock();

    std::atomic<int> inside{0}, overlaps{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 300; ++i) {
                NamedMutex m("job");
                if (!m.Lock() || inside.fetch_add(1) != 0) ++overlaps;
                std::this_thread::yield();
                inside.fetch_sub(1);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(0, overlaps.load());
}

TEST(NamedMutex, ExcludesOtherProcesses) {
    TestEnv env;
    NamedMutex held("shared");
    ASSERT_TRUE(held.Lock());
    EXPECT_EQ(0, InChild([] { return NamedMutex("shared").TryLock() ? 1 : 0; })) << "child got a held lock";
    EXPECT_EQ(0, InChild([] { return NamedMutex("unrelated").TryLock() ? 0 : 1; }));
    held.Unlock();
    EXPECT_EQ(0, InChild([] { return NamedMutex("shared").TryLock() ? 0 : 1; }));
    EXPECT_TRUE(held.TryLock()) << "the child's lock ended with it";
}

TEST(NamedMutex, NamesCannotLeaveTheLocksFolder) {
    TestEnv env;
    NamedMutex a("../../escape"), b("a/b");
    ASSERT_TRUE(a.Lock() && b.Lock());
    std::vector<std::string> names, top;
    ASSERT_TRUE(FwFile::ListDir(env.BaseDir() + "/Locks", names));
    ASSERT_EQ(2u, names.size());
    for (const auto& n : names) {
        EXPECT_EQ(std::string::npos, n.find("..")) << n;
        EXPECT_EQ(".lock", n.substr(n.size() - 5)) << n;
    }
    ASSERT_TRUE(FwFile::ListDir(env.BaseDir(), top));
    EXPECT_EQ(std::vector<std::string>{"Locks"}, top);
    EXPECT_FALSE(FwFile::Exists(env.BaseDir() + "/../escape.lock"));
}
