#pragma once
// Maps an EBS volume attached to this machine to its block device.
#include <cstdint>
#include <string>

#include "framework/FrameworkApi.h"

class FW_API CDiskMapper {
public:
    virtual ~CDiskMapper();
    // Prepares the mapper for a job; false when it cannot work here.
    virtual bool Initialize() { return true; }

    // Hooks around an attach. PostAttachDisk with attachFailed set only tidies
    // up after an attach that did not happen; otherwise it waits for the
    // volume's device to appear and fills its path and size in bytes, false
    // when it never appears.
    virtual bool PreAttachDisk() { return true; }
    virtual bool PostAttachDisk(const std::string& volumeId, std::string& devicePath, int64_t& sizeBytes,
                                bool attachFailed);

    // Hooks around a detach of the device (empty: the mapper finds it), and
    // a rescan of the machine's block devices after a forced detach.
    virtual bool PreDetatchDisk(const std::string& device) { (void)device; return true; }
    virtual bool PostDetatchDisk(const std::string& device) { (void)device; return true; }
    virtual bool ReScan() { return true; }

    // Access of the attached device. A Linux proxy reads and writes the
    // device node directly: nothing is mounted, so there is nothing to take
    // offline or make writeable here.
    virtual bool MakeDiskWriteable(const std::string& device) { (void)device; return true; }
    virtual bool BringDiskOffline(const std::string& device) { (void)device; return true; }

    // Fills devicePath for the attached volume; false when no device exists.
    virtual bool GetDeviceForVolume(const std::string& volumeId, std::string& devicePath) = 0;
    // Size in bytes of the device; negative when it cannot be read.
    virtual int64_t GetDeviceSize(const std::string& devicePath) = 0;
};

// Finds the device the way a Nitro instance names EBS volumes: under the
// device folder (setting "VirtualServer" / sDiskByIdFolder, default
// /dev/disk/by-id) the entry "nvme-Amazon_Elastic_Block_Store_" followed by
// the volume id without its dash. udev creates that entry a little after the
// attachment completes, so PostAttachDisk polls for it ("VirtualServer" /
// nDiskMapperDeviceWaitSec, default 60 seconds, one look per second, through
// the framework clock).
class FW_API CDiskMapperLinux : public CDiskMapper {
public:
    CDiskMapperLinux();
    // Re-reads the device folder setting.
    bool Initialize() override;
    bool GetDeviceForVolume(const std::string& volumeId, std::string& devicePath) override;
    // A block device's size from the kernel, a plain file's from its length.
    int64_t GetDeviceSize(const std::string& devicePath) override;
    static std::string DeviceNameForVolume(const std::string& volumeId);

private:
    std::string m_folder;
};
