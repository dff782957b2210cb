#pragma once
// Maps an EBS volume attached to this machine to its block device.
#include <string>

#include "framework/FrameworkApi.h"

class FW_API CDiskMapper {
public:
    virtual ~CDiskMapper();
    // Fills devicePath for the attached volume; false when no device exists.
    virtual bool GetDeviceForVolume(const std::string& volumeId, std::string& devicePath) = 0;
};

// Finds the device the way a Nitro instance names EBS volumes: under the
// device folder (setting "VirtualServer" / sDiskByIdFolder, default
// /dev/disk/by-id) the entry "nvme-Amazon_Elastic_Block_Store_" followed by
// the volume id without its dash.
class FW_API CDiskMapperLinux : public CDiskMapper {
public:
    CDiskMapperLinux();
    bool GetDeviceForVolume(const std::string& volumeId, std::string& devicePath) override;
    static std::string DeviceNameForVolume(const std::string& volumeId);

private:
    std::string m_folder;
};
