// The proxy's streams as jobs share them: at most the limit held at once,
// whichever process holds them, a waiter served once one is freed, and a
// killed holder's stream freed with it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "host/StreamSlot.h"
#include "support/TestEnv.h"

namespace {
char ReadByte(int fd) {
    char c = 0;
    return ::read(fd, &c, 1) == 1 ? c : '\0';
}
}  // namespace

TEST(StreamSlot, NoMoreThanTheLimitAreHeldAndAFreedOneIsTakenAgain) {
    TestEnv env;
    const std::string folder = env.BaseDir() + "/Locks/streams";
    std::string why;
    StreamSlot a, b, c;
    ASSERT_TRUE(a.TryAcquire(folder, 2, why)) << why;
    ASSERT_TRUE(b.TryAcquire(folder, 2, why)) << why;
    EXPECT_NE(a.Index(), b.Index());
    EXPECT_FALSE(c.TryAcquire(folder, 2, why));
    EXPECT_EQ("", why);  // all held is not an error
    EXPECT_EQ(-1, c.Index());
    // A larger limit has room beyond the held ones.
    EXPECT_TRUE(c.TryAcquire(folder, 3, why));
    EXPECT_EQ(2, c.Index());
    c.Release();
    const int freed = a.Index();
    a.Release();
    ASSERT_TRUE(c.TryAcquire(folder, 2, why));
    EXPECT_EQ(freed, c.Index());
    // A limit below one still serves one stream at a time.
    StreamSlot d, e;
    EXPECT_TRUE(d.TryAcquire(env.BaseDir() + "/other", 0, why));
    EXPECT_FALSE(e.TryAcquire(env.BaseDir() + "/other", 0, why));
}

TEST(StreamSlot, AWaiterIsServedWhenTheStreamIsFreedAndAKilledHolderFreesIt) {
    TestEnv env;
    const std::string folder = env.BaseDir() + "/Locks/streams";
    std::string why;
    StreamSlot held;
    ASSERT_TRUE(held.TryAcquire(folder, 1, why)) << why;
    int report[2];
    ASSERT_EQ(0, ::pipe(report));
    const pid_t waiter = ::fork();
    ASSERT_GE(waiter, 0);
    if (waiter == 0) {
        // The lock belongs to the open file, which fork shared: only the
        // parent's copy may keep it held.
        held.Release();
        StreamSlot mine;
        std::string childWhy;
        const bool got = mine.Acquire(folder, 1, [&] { (void)::write(report[1], "w", 1); }, nullptr, childWhy);
        (void)::write(report[1], got ? "a" : "f", 1);
        ::pause();  // holds the stream until killed
        ::_exit(0);
    }
    ::close(report[1]);
    EXPECT_EQ('w', ReadByte(report[0]));  // it found the only stream held and waits
    held.Release();
    EXPECT_EQ('a', ReadByte(report[0]));  // served once it was freed
    StreamSlot other;
    EXPECT_FALSE(other.TryAcquire(folder, 1, why));  // now the waiter holds it
    ::kill(waiter, SIGKILL);
    ::waitpid(waiter, nullptr, 0);
    ::close(report[0]);
    EXPECT_TRUE(other.TryAcquire(folder, 1, why)) << why;
}
