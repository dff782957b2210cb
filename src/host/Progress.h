#pragma once
// Progress of a long copy (backup, image rebuild, restore) for the person
// watching it: per disk the bytes done of the disk's, the rate and the time
// left, at most once a second, and a summary when the copy ends.
//
// On a terminal the disk's line is redrawn in place; on anything else (a log,
// a pipe, a test) every report is a whole line. Lines never end in padding.
// Time comes from the clock given, so that a test can move it.
//
// Thread-safe: the reader threads of one disk may Add concurrently.
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "framework/Clock.h"

// "0 B", "512 B", "1.5 KiB", "12.0 MiB", "3.25 GiB": binary units, three
// significant figures from KiB on.
std::string FormatBytes(double bytes);
// "0:07", "12:05", "1:02:03"; "?" when the time cannot be told (a negative
// or unbounded estimate).
std::string FormatDuration(double seconds);

class CopyProgress {
public:
    static constexpr int64_t kIntervalMs = 1000;

    // job names the copy in every line ("backup", "restore", ...); disks is
    // how many StartDisk calls are to come. redraw: the stream is a terminal.
    CopyProgress(std::string job, size_t disks, IClock& clock, FILE* out, bool redraw);
    // The same on stderr, redrawn when stderr is a terminal, timed by the
    // wall clock: what the user waits for is real time even when the
    // simulated cloud's waits are skipped.
    CopyProgress(std::string job, size_t disks);
    CopyProgress(const CopyProgress&) = delete;
    CopyProgress& operator=(const CopyProgress&) = delete;

    // The next disk, of which bytes are to be copied. Ends the one before.
    void StartDisk(const std::string& name, uint64_t bytes);
    // bytes more of the current disk are copied; reports when a second has
    // passed since the last report.
    void Add(uint64_t bytes);
    // The current disk is done (or failed): its last line, with its time.
    void EndDisk();
    // The summary: every disk's bytes, the whole time and the mean rate.
    // Ends the current disk first.
    void Finish();

    uint64_t TotalBytes() const;

private:
    void ReportLocked(bool last);
    void WriteLocked(const std::string& line, bool last);

    const std::string m_job;
    const size_t m_disks;
    IClock& m_clock;
    FILE* const m_out;
    const bool m_redraw;
    const int64_t m_startMs;

    // State below is guarded by m_lock.
    mutable std::mutex m_lock;
    size_t m_index = 0;          // disks started so far
    bool m_inDisk = false;
    std::string m_name;
    uint64_t m_diskBytes = 0, m_diskDone = 0, m_total = 0;
    int64_t m_diskStartMs = 0, m_lastReportMs = 0;
};
