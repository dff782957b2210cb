#include "framework/DiskMapper.h"

#include "framework/FileUtils.h"
#include "framework/KDPlatformInfo.h"

CDiskMapper::~CDiskMapper() = default;

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

bool CDiskMapperLinux::Initialize() {
    m_folder = "/dev/disk/by-id";
    KDPlatformInfo().getString("VirtualServer", "sDiskByIdFolder", m_folder);
    return true;
}
