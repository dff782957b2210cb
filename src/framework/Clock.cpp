#include "framework/Clock.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "framework/FileUtils.h"

IClock::~IClock() = default;

int64_t SystemClock::NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

void SystemClock::SleepMs(int64_t ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void VirtualClock::SleepMs(int64_t ms) {
    // A negative wait must not turn time back: callers compute waits from
    // deadlines that may already have passed.
    if (ms <= 0) return;
    m_now += ms;
    m_slept += ms;
}

SkipSleepClock::SkipSleepClock(std::string offsetFile, bool follow, int64_t followIntervalMs)
    : m_offsetFile(std::move(offsetFile)), m_follow(follow), m_followIntervalMs(followIntervalMs) {
    ReadOffset();
}

void SkipSleepClock::ReadOffset() {
    std::string text;
    if (m_offsetFile.empty() || !FwFile::ReadAll(m_offsetFile, text)) return;
    try {
        const int64_t read = std::max<int64_t>(0, std::stoll(text));
        // Never backwards: a file written by a process that knew less than
        // this one does not turn the clock back.
        int64_t known = m_skipped.load();
        while (read > known && !m_skipped.compare_exchange_weak(known, read)) {}
    } catch (...) {
        // An unreadable offset leaves the clock where it is.
    }
}

int64_t SkipSleepClock::NowMs() {
    const int64_t real = SystemClock().NowMs();
    if (m_follow && real - m_lastReadMs.load() >= m_followIntervalMs) {
        m_lastReadMs = real;
        ReadOffset();
    }
    return real + m_skipped.load();
}

void SkipSleepClock::SleepMs(int64_t ms) {
    if (ms <= 0) return;
    const int64_t skipped = m_skipped += ms;
    if (!m_offsetFile.empty()) FwFile::WriteAllAtomic(m_offsetFile, std::to_string(skipped));
}

namespace {

// Get() hands out a plain reference that callers keep across calls (a wait
// loop reads the clock many times). So a clock, once installed, stays alive
// until the process ends even after Set replaces it; the registry itself is
// never destroyed, because threads may still read the clock during exit.
struct ClockRegistry {
    std::mutex mutex;
    std::vector<std::shared_ptr<IClock>> retained;
    std::atomic<IClock*> current{nullptr};
    SystemClock* system = new SystemClock();
};

ClockRegistry& Registry() {
    static ClockRegistry* registry = new ClockRegistry();
    return *registry;
}

}  // namespace

IClock& FwClock::Get() {
    ClockRegistry& r = Registry();
    IClock* c = r.current.load(std::memory_order_acquire);
    return c ? *c : *r.system;
}

void FwClock::Set(std::shared_ptr<IClock> clock) {
    ClockRegistry& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    IClock* raw = clock.get();
    if (clock) {
        bool known = false;
        for (const auto& c : r.retained) known = known || c.get() == raw;
        if (!known) r.retained.push_back(std::move(clock));
    }
    r.current.store(raw, std::memory_order_release);
}
