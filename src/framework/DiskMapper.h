#pragma once
// Maps an EBS volume attached to this machine to its block device.
#include <string>

#include "framework/FrameworkApi.h"

class FW_API CDiskMapper {
public:
    virtual ~CDiskMapper();
    // Prepares the mapper for a job; false when it cannot work here.
    virtual bool Initialize() { return true; }
    // Hooks around a detach of the device (empty: the mapper finds it), and
    // a rescan of the machine's block devices after a forced detach.
    virtual bool PreDetatchDisk(const std::string& device) { (void)device; return true; }
    virtual bool PostDetatchDisk(const std::string& device) { (void)device; return true; }
    virtual bool ReScan() { return true; }
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
    // Re-reads the device folder setting.
    bool Initialize() override;
    bool GetDeviceForVolume(const std::string& volumeId, std::string& devicePath) override;
    static std::string DeviceNameForVolume(const std::string& volumeId);

private:
    std::string m_folder;
};
