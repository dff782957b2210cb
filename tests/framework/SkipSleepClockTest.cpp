// The host's clock against a simulated cloud: sleeps move time ahead at once,
// and the next process goes on from there.
#include <gtest/gtest.h>

#include <chrono>

#include "framework/Clock.h"
#include "framework/FileUtils.h"
#include "support/TestEnv.h"

TEST(SkipSleepClock, SleepsCostNoWallTimeAndTheSkipSurvivesTheProcess) {
    TestEnv env;
    const std::string offset = env.BaseDir() + "/clock-offset";
    const auto wallStart = std::chrono::steady_clock::now();
    int64_t before = 0;
    {
        SkipSleepClock clock(offset);
        before = clock.NowMs();
        clock.SleepMs(3600 * 1000);
        clock.SleepMs(-5);
        EXPECT_GE(clock.NowMs() - before, 3600 * 1000);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - wallStart, std::chrono::seconds(5));
    SkipSleepClock next(offset);
    EXPECT_GE(next.NowMs() - before, 3600 * 1000);
    SkipSleepClock fresh(env.BaseDir() + "/no-such-offset");
    EXPECT_LT(fresh.NowMs() - before, 3600 * 1000);
}

TEST(SkipSleepClock, AFollowerTakesUpWhatAnotherProcessSkippedButNeverGoesBack) {
    TestEnv env;
    const std::string offset = env.BaseDir() + "/clock-offset";
    SkipSleepClock job(offset);
    SkipSleepClock server(offset, true, 0);   // re-reads on every call
    SkipSleepClock deaf(offset);              // reads the file once
    const int64_t before = server.NowMs();
    job.SleepMs(2 * 3600 * 1000);
    EXPECT_GE(server.NowMs() - before, 2 * 3600 * 1000);
    EXPECT_LT(deaf.NowMs() - before, 3600 * 1000);
    // A stale file written by a process that knew less does not turn it back.
    ASSERT_TRUE(FwFile::WriteAllAtomic(offset, "1000"));
    EXPECT_GE(server.NowMs() - before, 2 * 3600 * 1000);
}
