// What a restore or clone may choose from: instance sizes, roles, images,
// volume types and encryption keys.
#include "common/BridgeCall.h"
#include "bridge/AmazonSDKBridge.h"
#include "common/OperationGuard.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"

using AmazonGuard::Guarded;

namespace {
constexpr uint64_t kGiB = 1ULL << 30;

struct VolumeType {
    const char* name;
    const char* displayName;
    uint64_t minGiB;
};

// EC2's volume types and the smallest size each can be created with.
constexpr VolumeType kVolumeTypes[] = {
    {"gp2", "General Purpose SSD (gp2)", 1},       {"gp3", "General Purpose SSD (gp3)", 1},
    {"io1", "Provisioned IOPS SSD (io1)", 4},      {"io2", "Provisioned IOPS SSD (io2)", 4},
    {"st1", "Throughput Optimized HDD (st1)", 500}, {"sc1", "Cold HDD (sc1)", 500},
    {"standard", "Magnetic (standard)", 1},
};
}  // namespace

int CAmazonInfo::GetAvailableVMSizesForHost(const std::string& region,
                                            std::vector<VMInfoStructs::SVMSizeInfo>& sizes, ULONGLONG, int) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        const int result = m_pSourceBridge->GetAllInstanceTypeList(region, sizes);
        if (!result) EvDebug::Error(fn, "Failed to get list of available VM sizes.");
        return result;
    });
}

int CAmazonInfo::GetRolesForHost(const std::string&, std::vector<VMInfoStructs::SRoleInfo>& roles, ULONGLONG, int) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        const int result = m_pSourceBridge->GetRoleInfoList(roles);
        if (!result) EvDebug::Error(fn, "Failed to get list of Role info list.");
        return result;
    });
}

int CAmazonInfo::GetImageList(const std::string& nameContains, const std::string& platform, const std::string& state,
                              std::vector<VMInfoStructs::SImageInfo>& images) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        std::string error;
        const auto list = [&] { return m_pSourceBridge->GetFilteredAmis(nameContains, platform, state, images); };
        if (AmazonCommon::QuietBridgeCall(*m_pSourceBridge, list, error))
            return 1;
        SetLastVMErrorDetails(error);
        return 0;
    });
}

int CAmazonInfo::GetVolumeTypeListForHost(const std::string&, std::vector<VMInfoStructs::SVolumeTypeInfo>& types) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        types.clear();
        for (const auto& known : kVolumeTypes) {
            VMInfoStructs::SVolumeTypeInfo type;
            type.name = known.name;
            type.displayName = known.displayName;
            type.minSize = known.minGiB * kGiB;
            types.push_back(type);
        }
        return 1;
    });
}

int CAmazonInfo::GetVolumeEncryptionKeyListForHost(const std::string& region,
                                                   std::vector<VMInfoStructs::SVolumeEncryptionKeyInfo>& keys) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        if (m_pSourceBridge->GetVolumeEncryptionKeyList(region, keys)) return 1;
        EvDebug::Error(fn, "Failed to get volume encryption key list.");
        return 0;
    });
}
