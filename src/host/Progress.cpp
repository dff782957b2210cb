// The progress reporter every copy of the host program uses.
#include "host/Progress.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace {
// Wall time for the reporter alone; the process clock may skip waits.
IClock& WallClock() {
    static SystemClock clock;
    return clock;
}

std::string Printf(const char* format, double a, const char* unit) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, unit);
    return text;
}

// bytes per second over ms milliseconds; negative when no time has passed.
double Rate(uint64_t bytes, int64_t ms) { return ms > 0 ? bytes * 1000.0 / ms : -1; }

std::string RateText(double rate) { return rate < 0 ? std::string("-") : FormatBytes(rate) + "/s"; }
}  // namespace

std::string FormatBytes(double bytes) {
    static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
    if (!(bytes >= 0)) bytes = 0;
    size_t unit = 0;
    while (bytes >= 1024 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
        bytes /= 1024;
        ++unit;
    }
    if (unit == 0) return Printf("%.0f %s", bytes, kUnits[0]);
    // Three figures whatever the size: 1.50, 12.0, 512.
    const char* format = bytes < 9.995 ? "%.2f %s" : bytes < 99.95 ? "%.1f %s" : "%.0f %s";
    return Printf(format, bytes, kUnits[unit]);
}

std::string FormatDuration(double seconds) {
    if (!(seconds >= 0) || seconds > 1e9) return "?";
    const long long s = std::llround(seconds);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    return text;
}

CopyProgress::CopyProgress(std::string job, size_t disks, IClock& clock, FILE* out, bool redraw)
    : m_job(std::move(job)), m_disks(disks), m_clock(clock), m_out(out), m_redraw(redraw),
      m_startMs(clock.NowMs()) {}

CopyProgress::CopyProgress(std::string job, size_t disks)
    : CopyProgress(std::move(job), disks, WallClock(), stderr, ::isatty(STDERR_FILENO) == 1) {}

void CopyProgress::StartDisk(const std::string& name, uint64_t bytes) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_inDisk) ReportLocked(true);
    ++m_index;
    m_inDisk = true;
    m_name = name;
    m_diskBytes = bytes;
    m_diskDone = 0;
    m_diskStartMs = m_lastReportMs = m_clock.NowMs();
}

void CopyProgress::Add(uint64_t bytes) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_diskDone += bytes;
    m_total += bytes;
    if (m_inDisk && m_clock.NowMs() - m_lastReportMs >= kIntervalMs) ReportLocked(false);
}

void CopyProgress::EndDisk() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_inDisk) ReportLocked(true);
    m_inDisk = false;
}

void CopyProgress::Finish() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_inDisk) ReportLocked(true);
    m_inDisk = false;
    const int64_t ms = m_clock.NowMs() - m_startMs;
    char line[256];
    std::snprintf(line, sizeof line, "%s: %s (%llu bytes) of %zu disk%s in %.2f s, %s", m_job.c_str(),
                  FormatBytes(static_cast<double>(m_total)).c_str(), static_cast<unsigned long long>(m_total),
                  m_index, m_index == 1 ? "" : "s", ms / 1000.0, RateText(Rate(m_total, ms)).c_str());
    WriteLocked(line, true);
}

uint64_t CopyProgress::TotalBytes() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_total;
}

void CopyProgress::ReportLocked(bool last) {
    const int64_t now = m_clock.NowMs();
    m_lastReportMs = now;
    const int64_t ms = now - m_diskStartMs;
    const double rate = Rate(m_diskDone, ms);
    std::string line = m_job + ": disk " + std::to_string(m_index) + " of " + std::to_string(m_disks) + " (" +
                       m_name + "): " + FormatBytes(static_cast<double>(m_diskDone)) + " of " +
                       FormatBytes(static_cast<double>(m_diskBytes));
    if (m_diskBytes > 0) {
        const double done = std::min(1.0, static_cast<double>(m_diskDone) / m_diskBytes);
        line += " (" + std::to_string(static_cast<int>(done * 100)) + "%)";
    }
    line += ", " + RateText(rate);
    if (last) {
        line += ", done in " + FormatDuration(ms / 1000.0);
    } else {
        const double left = m_diskBytes > m_diskDone ? static_cast<double>(m_diskBytes - m_diskDone) : 0;
        line += ", " + FormatDuration(rate > 0 ? left / rate : -1) + " left";
    }
    WriteLocked(line, last);
}

void CopyProgress::WriteLocked(const std::string& line, bool last) {
    // In place: back to the line's start, and clear what a longer line
    // before left, rather than padding with spaces.
    if (m_redraw)
        std::fprintf(m_out, "\r%s\033[K%s", line.c_str(), last ? "\n" : "");
    else
        std::fprintf(m_out, "%s\n", line.c_str());
    std::fflush(m_out);
}
