#include "framework/EvDebug.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>

#include "framework/Clock.h"
#include "framework/FileUtils.h"
#include "framework/KDPI.h"
#include "framework/KDPlatformInfo.h"

namespace {

constexpr int kDefaultLevel = 2;
constexpr int kLevelUnknown = INT_MIN;

struct LogState {
    std::mutex mutex;
    int fd = -1;
    std::string openPath;
    std::shared_ptr<const EvDebug::Tap> tap;
    std::atomic<int> level{kLevelUnknown};
};

LogState& State() {
    // Never destroyed: threads and static destructors log during exit.
    static LogState* state = new LogState();
    return *state;
}

// Reading the level goes through the settings reader, which logs malformed
// values itself; this flag keeps that nested call from reading again.
thread_local bool t_readingLevel = false;

int ConfiguredLevel() {
    LogState& s = State();
    int level = s.level.load(std::memory_order_relaxed);
    if (level != kLevelUnknown) return level;
    if (t_readingLevel) return kDefaultLevel;
    t_readingLevel = true;
    level = kDefaultLevel;
    try {
        KDPlatformInfo settings;
        int configured = kDefaultLevel;
        if (settings.getNumber("Base", "nDebugLevel", configured)) level = configured;
    } catch (...) {
    }
    t_readingLevel = false;
    s.level.store(level, std::memory_order_relaxed);
    return level;
}

std::string FormatMessage(const char* fmt, va_list args) {
    if (!fmt) return std::string();
    char small[512];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(small, sizeof(small), fmt, copy);
    va_end(copy);
    if (n < 0) return fmt;  // an unusable format still says where it came from
    if (static_cast<size_t>(n) < sizeof(small)) return std::string(small, static_cast<size_t>(n));
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(&big[0], big.size(), fmt, args);
    big.resize(static_cast<size_t>(n));
    return big;
}

std::string TimeStamp() {
    int64_t ms = FwClock::NowMs();
    int64_t sec = ms / 1000;
    int milli = static_cast<int>(ms % 1000);
    if (milli < 0) {
        milli += 1000;
        --sec;
    }
    time_t t = static_cast<time_t>(sec);
    struct tm tmv {};
    // UTC: lines from machines in different zones (and across a daylight
    // saving change) stay comparable.
    gmtime_r(&t, &tmv);
    char buf[96];
    std::snprintf(buf, sizeof(buf), "%04d-%02d-%02d %02d:%02d:%02d.%03d", tmv.tm_year + 1900, tmv.tm_mon + 1,
                  tmv.tm_mday, tmv.tm_hour, tmv.tm_min, tmv.tm_sec, milli);
    return buf;
}

// Caller holds the state mutex.
void EnsureOpen(LogState& s, const std::string& path) {
    if (s.fd >= 0 && s.openPath == path) return;
    if (s.fd >= 0) ::close(s.fd);
    s.fd = -1;
    s.openPath.clear();
    std::string folder = path.substr(0, path.rfind('/'));
    FwFile::MakeDirs(folder);
    // O_APPEND makes each line's single write land whole at the end, also
    // when the host and a forked helper log into the same file.
    s.fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (s.fd >= 0) s.openPath = path;
}

void Write(int level, const char* levelName, const char* tag, const char* fmt, va_list args) noexcept {
    try {
        std::string message = FormatMessage(fmt, args);
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
        std::string tagText = tag ? tag : "";
        std::string line = TimeStamp() + " " + std::to_string(getpid()) + " " +
                           std::to_string(FwThread::CurrentThreadId()) + " " + levelName + " [" + tagText +
                           "] " + message + "\n";
        std::string path = EvDebug::LogFilePath();

        LogState& s = State();
        std::shared_ptr<const EvDebug::Tap> tap;
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            EnsureOpen(s, path);
            if (s.fd >= 0) {
                const char* p = line.data();
                size_t left = line.size();
                while (left > 0) {
                    ssize_t n = ::write(s.fd, p, left);
                    if (n < 0 && errno == EINTR) continue;
                    if (n <= 0) break;
                    p += n;
                    left -= static_cast<size_t>(n);
                }
            }
            tap = s.tap;
        }
        // Outside the lock, so an observer may log itself.
        if (tap && *tap) (*tap)(level, tagText, message);
    } catch (...) {
        // Logging must never take its caller down.
    }
}

}  // namespace

void EvDebug::Debug(const char* tag, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    Write(1, "DEBUG", tag, fmt, args);
    va_end(args);
}

void EvDebug::Error(const char* tag, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    Write(0, "ERROR", tag, fmt, args);
    va_end(args);
}

void EvDebug::DebugLvl(const char* tag, int level, const char* fmt, ...) {
    if (!IsLevelEnabled(level)) return;
    char name[24];
    std::snprintf(name, sizeof(name), "DEBUG%d", level);
    va_list args;
    va_start(args, fmt);
    Write(level, name, tag, fmt, args);
    va_end(args);
}

bool EvDebug::IsLevelEnabled(int level) { return level <= ConfiguredLevel(); }

void EvDebug::Reload() {
    LogState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.level.store(kLevelUnknown);
    if (s.fd >= 0) ::close(s.fd);
    s.fd = -1;
    s.openPath.clear();
}

std::string EvDebug::LogFilePath() {
    return FwFile::JoinPath(FwFile::JoinPath(KDPI_Base::getBaseDir(), "Log"), "agent.log");
}

void EvDebug::SetTap(Tap tap) {
    auto shared = tap ? std::make_shared<const Tap>(std::move(tap)) : nullptr;
    LogState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.tap = std::move(shared);
}
