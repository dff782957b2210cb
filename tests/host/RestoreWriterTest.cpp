// The data mover's restore write: only the image's data regions reach the
// device, and a device or image that does not fit is refused untouched.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "framework/FileUtils.h"
#include "host/RestoreWriter.h"
#include "support/TestEnv.h"

namespace {
constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint64_t kSize = 8 * kMiB;

// A sparse image of size bytes with text written at each offset.
void MakeImage(const std::string& path, uint64_t size, const std::vector<std::pair<uint64_t, std::string>>& data) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, ::ftruncate(fd, static_cast<off_t>(size)));
    for (const auto& [at, text] : data)
        ASSERT_EQ(static_cast<ssize_t>(text.size()), ::pwrite(fd, text.data(), text.size(), static_cast<off_t>(at)));
    ::close(fd);
}

// A device that already holds something everywhere: whatever the write
// leaves alone still reads as it.
void MakeDevice(const std::string& path, uint64_t size) {
    ASSERT_TRUE(FwFile::WriteAllAtomic(path, std::string(static_cast<size_t>(size), '\xAA')));
}

std::string Bytes(const std::string& path, uint64_t at, uint64_t n) {
    std::string all = TestEnv::ReadFile(path);
    return all.substr(static_cast<size_t>(at), static_cast<size_t>(n));
}

struct RestoreWriter : ::testing::Test {
    TestEnv env;
    const std::string image = env.BaseDir() + "/disk.img", device = env.BaseDir() + "/device";
    WriteStats stats;
    std::string why;
};
}  // namespace

TEST_F(RestoreWriter, WritesTheDataRegionsAndLeavesTheHolesUnwritten) {
    const std::string first(512 * 1024, 'D'), second = "tail of the disk";
    MakeImage(image, kSize, {{1 * kMiB, first}, {6 * kMiB, second}});
    MakeDevice(device, kSize);
    ASSERT_TRUE(WriteImageToDevice(image, device, kSize, stats, nullptr, why)) << why;
    EXPECT_EQ(first, Bytes(device, 1 * kMiB, first.size()));
    EXPECT_EQ(second, Bytes(device, 6 * kMiB, second.size()));
    // Holes are not written: the device's own bytes are still there.
    EXPECT_EQ(std::string(kMiB, '\xAA'), Bytes(device, 0, kMiB));
    EXPECT_EQ(std::string(kMiB, '\xAA'), Bytes(device, 4 * kMiB, kMiB));
    EXPECT_EQ(std::string(kMiB, '\xAA'), Bytes(device, 7 * kMiB, kMiB));
    EXPECT_EQ(2u, stats.regions);
    // The file system rounds a region out to its blocks, never to the disk.
    EXPECT_GE(stats.bytesWritten, first.size() + second.size());
    EXPECT_LE(stats.bytesWritten, first.size() + 64 * 1024);
}

TEST_F(RestoreWriter, AnImageOfHolesWritesNothing) {
    MakeImage(image, kSize, {});
    MakeDevice(device, kSize);
    ASSERT_TRUE(WriteImageToDevice(image, device, kSize, stats, nullptr, why)) << why;
    EXPECT_EQ(0u, stats.bytesWritten);
    EXPECT_EQ(std::string(kSize, '\xAA'), TestEnv::ReadFile(device));
}

TEST(RestoreWriterFit, ImagesAndDevicesThatDoNotFitAreRefusedBeforeAnyWrite) {
    struct Case {
        const char* name;
        uint64_t imageSize, deviceSize, diskSize;
        bool device;            // whether the device exists
        const char* reason;
    };
    const Case cases[] = {
        {"truncated image", kSize - 4096, kSize, kSize, true, "holds"},
        {"longer image", kSize + kMiB, kSize + kMiB, kSize, true, "holds"},
        {"small device", kSize, kSize / 2, kSize, true, "less than the disk's"},
        {"no device", kSize, 0, kSize, false, "cannot open the device"},
    };
    for (const auto& c : cases) {
        TestEnv env;
        const std::string image = env.BaseDir() + "/disk.img", device = env.BaseDir() + "/device";
        MakeImage(image, c.imageSize, {{0, "boot block"}});
        if (c.device) MakeDevice(device, c.deviceSize);
        WriteStats stats;
        std::string why;
        EXPECT_FALSE(WriteImageToDevice(image, device, c.diskSize, stats, nullptr, why)) << c.name;
        EXPECT_NE(std::string::npos, why.find(c.reason)) << c.name << ": " << why;
        EXPECT_EQ(0u, stats.bytesWritten) << c.name;
        // A device that is not there is never made up as a file.
        if (c.device) {
            EXPECT_EQ(std::string(c.deviceSize, '\xAA'), TestEnv::ReadFile(device)) << c.name;
        } else {
            EXPECT_FALSE(FwFile::Exists(device)) << c.name;
        }
    }
}

TEST_F(RestoreWriter, AStopFromTheProgressEndsTheCopy) {
    MakeImage(image, kSize, {{0, std::string(kSize, 'x')}});
    MakeDevice(device, kSize);
    int calls = 0;
    EXPECT_FALSE(WriteImageToDevice(image, device, kSize, stats, [&](uint64_t) { return ++calls < 1; }, why));
    EXPECT_NE(std::string::npos, why.find("cancelled")) << why;
    EXPECT_EQ(1, calls);
    EXPECT_LT(stats.bytesWritten, kSize);
}
