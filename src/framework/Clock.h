#pragma once
// The only way anything in the system waits or reads the time. Production
// uses the system clock; tests install a VirtualClock, whose SleepMs advances
// time at once, so hour-long waits run in microseconds.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "framework/FrameworkApi.h"

class FW_API IClock {
public:
    virtual ~IClock();
    virtual int64_t NowMs() = 0;          // milliseconds since the Unix epoch
    virtual void SleepMs(int64_t ms) = 0;
};

class FW_API SystemClock : public IClock {
public:
    int64_t NowMs() override;
    void SleepMs(int64_t ms) override;
};

class FW_API VirtualClock : public IClock {
public:
    explicit VirtualClock(int64_t startMs = 1798761600000LL /* 2027-01-01 */) : m_now(startMs) {}
    int64_t NowMs() override { return m_now.load(); }
    void SleepMs(int64_t ms) override;
    void AdvanceMs(int64_t ms) { if (ms > 0) m_now += ms; }
    int64_t TotalSleptMs() const { return m_slept.load(); }

private:
    std::atomic<int64_t> m_now;
    std::atomic<int64_t> m_slept{0};
};

// Real time, but a sleep returns at once and moves this clock ahead by the
// time slept instead. For runs against a simulated cloud, whose waits need
// not cost wall time. The time skipped so far is kept in a file (when one is
// given), so that the next process goes on from there and time never runs
// backwards across processes.
//
// A follower (follow = true) also takes up what other processes skip: it
// re-reads the file at most every followIntervalMs of real time. A server
// process serving a job process uses one, so both agree on the time.
class FW_API SkipSleepClock : public IClock {
public:
    static constexpr int64_t kFollowIntervalMs = 50;

    explicit SkipSleepClock(std::string offsetFile = std::string(), bool follow = false,
                            int64_t followIntervalMs = kFollowIntervalMs);
    int64_t NowMs() override;
    void SleepMs(int64_t ms) override;

private:
    void ReadOffset();

    std::string m_offsetFile;
    bool m_follow = false;
    int64_t m_followIntervalMs = kFollowIntervalMs;
    std::atomic<int64_t> m_skipped{0};
    std::atomic<int64_t> m_lastReadMs{0};   // real time of the last read
};

class FW_API FwClock {
public:
    static IClock& Get();
    // Installs a clock for the whole process; null restores the system clock.
    static void Set(std::shared_ptr<IClock> clock);
    static int64_t NowMs() { return Get().NowMs(); }
    static int64_t NowSec() { return Get().NowMs() / 1000; }
    static void SleepMs(int64_t ms) { Get().SleepMs(ms); }
};
