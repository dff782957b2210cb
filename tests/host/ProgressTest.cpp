// The copy progress reporter: its units, its pace and its two line styles.
#include "host/Progress.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {
constexpr uint64_t kMiB = 1024 * 1024;

// What a reporter wrote, read back after each step.
class Captured {
public:
    Captured() : m_file(open_memstream(&m_data, &m_size)) {}
    ~Captured() {
        std::fclose(m_file);
        std::free(m_data);
    }
    FILE* file() { return m_file; }
    std::string Text() {
        std::fflush(m_file);
        return std::string(m_data, m_size);
    }

private:
    char* m_data = nullptr;
    size_t m_size = 0;
    FILE* m_file;
};
}  // namespace

TEST(Progress, BytesAndDurationsReadAsAPersonWouldWriteThem) {
    const struct {
        double bytes;
        const char* text;
    } sizes[] = {{0, "0 B"},           {1023, "1023 B"},           {1024, "1.00 KiB"},
                 {1536, "1.50 KiB"},   {12.5 * kMiB, "12.5 MiB"},  {512.0 * kMiB, "512 MiB"},
                 {3.25 * 1024 * kMiB, "3.25 GiB"}, {-1, "0 B"}};
    for (const auto& c : sizes) EXPECT_EQ(c.text, FormatBytes(c.bytes)) << c.bytes;
    const struct {
        double seconds;
        const char* text;
    } times[] = {{0, "0:00"}, {7.4, "0:07"}, {59.6, "1:00"}, {725, "12:05"}, {3723, "1:02:03"}, {-1, "?"}, {1e12, "?"}};
    for (const auto& c : times) EXPECT_EQ(c.text, FormatDuration(c.seconds)) << c.seconds;
}

TEST(Progress, ReportsAtMostOnceASecondWithRateAndTimeLeftThenASummary) {
    VirtualClock clock;
    Captured out;
    CopyProgress progress("backup", 2, clock, out.file(), false);
    progress.StartDisk("vol-1", 100 * kMiB);
    progress.Add(10 * kMiB);
    clock.AdvanceMs(500);
    progress.Add(10 * kMiB);
    EXPECT_EQ("", out.Text()) << "nothing before a second has passed";
    clock.AdvanceMs(500);
    progress.Add(5 * kMiB);
    EXPECT_EQ("backup: disk 1 of 2 (vol-1): 25.0 MiB of 100 MiB (25%), 25.0 MiB/s, 0:03 left\n", out.Text());
    clock.AdvanceMs(999);
    progress.Add(25 * kMiB);
    EXPECT_EQ(std::string::npos, out.Text().find("50.0 MiB")) << "the next report waits a whole second";
    clock.AdvanceMs(1001);
    progress.StartDisk("vol-2", 0);   // ends vol-1 with its last line
    progress.Finish();
    EXPECT_EQ("backup: disk 1 of 2 (vol-1): 25.0 MiB of 100 MiB (25%), 25.0 MiB/s, 0:03 left\n"
              "backup: disk 1 of 2 (vol-1): 50.0 MiB of 100 MiB (50%), 16.7 MiB/s, done in 0:03\n"
              "backup: disk 2 of 2 (vol-2): 0 B of 0 B, -, done in 0:00\n"
              "backup: 50.0 MiB (52428800 bytes) of 2 disks in 3.00 s, 16.7 MiB/s\n",
              out.Text());
}

TEST(Progress, OnATerminalTheDisksLineIsRedrawnInPlace) {
    VirtualClock clock;
    Captured out;
    CopyProgress progress("restore", 1, clock, out.file(), true);
    progress.StartDisk("vol-1", 4 * kMiB);
    clock.AdvanceMs(1000);
    progress.Add(kMiB);
    clock.AdvanceMs(1000);
    progress.Add(3 * kMiB);
    progress.Finish();
    EXPECT_EQ("\rrestore: disk 1 of 1 (vol-1): 1.00 MiB of 4.00 MiB (25%), 1.00 MiB/s, 0:03 left\033[K"
              "\rrestore: disk 1 of 1 (vol-1): 4.00 MiB of 4.00 MiB (100%), 2.00 MiB/s, 0:00 left\033[K"
              "\rrestore: disk 1 of 1 (vol-1): 4.00 MiB of 4.00 MiB (100%), 2.00 MiB/s, done in 0:02\033[K\n"
              "\rrestore: 4.00 MiB (4194304 bytes) of 1 disk in 2.00 s, 2.00 MiB/s\033[K\n",
              out.Text());
}
