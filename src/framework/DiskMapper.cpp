#include "framework/DiskMapper.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "framework/Clock.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/KDPlatformInfo.h"

namespace {
constexpr int kDefaultDeviceWaitSec = 60;
constexpr int64_t kDevicePollMs = 1000;

int DeviceWaitSec() {
    int seconds = kDefaultDeviceWaitSec;
    KDPlatformInfo().getNumber("VirtualServer", "nDiskMapperDeviceWaitSec", seconds);
    return seconds < 0 ? 0 : seconds;
}
}  // namespace

CDiskMapper::~CDiskMapper() = default;

bool CDiskMapper::PostAttachDisk(const std::string& volumeId, std::string& devicePath, int64_t& sizeBytes,
                                 bool attachFailed) {
    if (attachFailed) return true;
    const int64_t deadline = FwClock::NowMs() + int64_t{DeviceWaitSec()} * 1000;
    std::string path;
    while (!GetDeviceForVolume(volumeId, path)) {
        if (FwClock::NowMs() >= deadline) {
            EvDebug::Error(__PRETTY_FUNCTION__, "No device appeared for volume [%s]", volumeId.c_str());
            return false;
        }
        FwClock::SleepMs(kDevicePollMs);
    }
    const int64_t size = GetDeviceSize(path);
    if (size < 0) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Cannot read the size of device [%s] of volume [%s]", path.c_str(),
                       volumeId.c_str());
        return false;
    }
    devicePath = path;
    sizeBytes = size;
    EvDebug::Debug(__PRETTY_FUNCTION__, "Volume [%s] is device [%s] of [%lld] bytes", volumeId.c_str(), path.c_str(),
                   static_cast<long long>(size));
    return true;
}

CDiskMapperLinux::CDiskMapperLinux() : m_folder("/dev/disk/by-id") {
    KDPlatformInfo().getString("VirtualServer", "sDiskByIdFolder", m_folder);
}

std::string CDiskMapperLinux::DeviceNameForVolume(const std::string& volumeId) {
    std::string name = "nvme-Amazon_Elastic_Block_Store_";
    for (char c : volumeId) {
        if (c != '-') name += c;
    }
    return name;
}

bool CDiskMapperLinux::GetDeviceForVolume(const std::string& volumeId, std::string& devicePath) {
    // The id comes from the cloud's answer; it must not point the mapper at
    // some other file.
    if (volumeId.empty() || volumeId.find('/') != std::string::npos || volumeId.find("..") != std::string::npos) {
        return false;
    }
    std::string path = FwFile::JoinPath(m_folder, DeviceNameForVolume(volumeId));
    if (!FwFile::Exists(path)) return false;
    devicePath = path;
    return true;
}

int64_t CDiskMapperLinux::GetDeviceSize(const std::string& devicePath) {
    struct stat st {};
    if (stat(devicePath.c_str(), &st) != 0) return -1;
    if (!S_ISBLK(st.st_mode)) return S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : -1;
    const int fd = open(devicePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    uint64_t bytes = 0;
    const bool ok = ioctl(fd, BLKGETSIZE64, &bytes) == 0;
    close(fd);
    return ok ? static_cast<int64_t>(bytes) : -1;
}

bool CDiskMapperLinux::Initialize() {
    m_folder = "/dev/disk/by-id";
    KDPlatformInfo().getString("VirtualServer", "sDiskByIdFolder", m_folder);
    return true;
}
