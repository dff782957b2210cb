// Block reads of a disk's snapshot and the snapshot access around them.
// Reader threads of the data mover call ReadVmdk concurrently.
#include <cstdint>
#include <limits>
#include <string>

#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "disk/AmazonDiskInfo.h"
#include "disk/DiskGuard.h"
#include "ebsdirect/AmazonDirectSnapshotAccessAPIWrapper.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/KDPI.h"

namespace {

// The byte range of a read; false when it cannot be addressed: the offset
// past what 64 bits hold, or a single read of 4 GiB or more.
bool ByteRange(ULONGLONG startSector, unsigned int sectorCount, uint32_t sectorSize, long long& offset,
               long long& length) {
    constexpr uint64_t kMaxOffset = static_cast<uint64_t>(std::numeric_limits<long long>::max());
    const uint64_t bytes = uint64_t{sectorCount} * sectorSize;
    if (bytes > std::numeric_limits<uint32_t>::max()) return false;
    if (sectorSize != 0 && startSector > (kMaxOffset - bytes) / sectorSize) return false;
    offset = static_cast<long long>(startSector * sectorSize);
    length = static_cast<long long>(bytes);
    return true;
}

}  // namespace

int CAmazonInfo::ReadVmdk(const VmdkHandle& handle, ULONGLONG startSector, unsigned int sectorCount, void* buffer) {
    const char* fn = __PRETTY_FUNCTION__;
    return AmazonDisk::Guarded(fn, 1, [&] {
        // Reader threads fail concurrently: a failure sets its own code and
        // text, and a read that succeeds leaves another thread's alone.
        const auto fail = [&](const std::string& text) {
            EvDebug::Error(fn, "Cannot read [%u] sectors from sector [%llu]: %s", sectorCount, startSector,
                           text.c_str());
            SetLastVMError(AmazonErrors::kMountFailed, text);
            return 1;
        };
        if (!handle.vmHandle || !handle.diskHandle || !buffer || !m_pDiskInfo)
            return fail(!buffer ? "no buffer" : !m_pDiskInfo ? "the disk helper is not connected" : "invalid handle");
        std::string snapshotId, region;
        uint32_t sectorSize = 0;
        int64_t capacity = 0;
        if (!m_pDiskInfo->GetDiskReadInfo(handle, snapshotId, region, sectorSize, capacity))
            return fail("the disk handle is not registered");
        long long offset = 0, length = 0;
        if (!ByteRange(startSector, sectorCount, sectorSize, offset, length))
            return fail("the range of snapshot " + snapshotId + " cannot be addressed");
        // One rule for both read paths. The EBS direct APIs hand out whole
        // blocks only, and past the disk's end a snapshot has no blocks, so
        // either would read as zeros that the disk never held.
        if (offset % AmazonDisk::kDirectReadBlockSize != 0 || length % AmazonDisk::kDirectReadBlockSize != 0)
            return fail(std::to_string(length) + " bytes at " + std::to_string(offset) + " of snapshot " + snapshotId +
                        " are not whole blocks of " + std::to_string(AmazonDisk::kDirectReadBlockSize) + " bytes");
        if (offset + length > capacity)
            return fail(std::to_string(length) + " bytes at " + std::to_string(offset) + " of snapshot " + snapshotId +
                        " reach past the disk's end at " + std::to_string(capacity));
        std::string why;
        if (!ReadSnapshotRange(snapshotId, region, offset, length, static_cast<unsigned char*>(buffer), why))
            return fail(why);
        return 0;
    });
}

// The plug-in's own direct client reads when the settings ask for it (the
// default); otherwise the block-read bridge, which serves one thread at a
// time, does.
bool CAmazonInfo::ReadSnapshotRange(const std::string& snapshotId, const std::string& region, long long offset,
                                    long long length, unsigned char* buffer, std::string& why) {
    if (m_bUseDirectSnapshotAccess) {
        auto* client = DirectSnapshotAccess();
        if (!client || !client->IsInitialized()) {
            why = "the EBS direct API client is not initialized";
            return false;
        }
        return client->ReadFromSnapshot(snapshotId, region, offset, length, buffer, why);
    }
    std::lock_guard<std::mutex> guard(m_readBridges.lock);
    CAmazonSDKBridge* bridge = ReadBridgeLocked();
    if (!bridge) {
        why = "no bridge to read snapshot " + snapshotId + " through";
        return false;
    }
    std::string error;
    if (AmazonCommon::QuietBridgeCall(
            *bridge, [&] { return bridge->ReadFromSnapshot(snapshotId, region, offset, length, buffer); }, error))
        return true;
    why = "snapshot " + snapshotId + ": " + error;
    return false;
}

bool CAmazonInfo::FillSnapshotAccessInfo(const std::string& snapshotId, const std::string& region) {
    std::string why;
    return FillSnapshotAccessInfo(snapshotId, region, why);
}

bool CAmazonInfo::FillSnapshotAccessInfo(const std::string& snapshotId, const std::string& region,
                                         std::string& why) {
    EvDebug::Debug(__PRETTY_FUNCTION__, "Filling access info for SnapshotId: [%s], region: [%s]", snapshotId.c_str(),
                   region.c_str());
    if (m_bUseDirectSnapshotAccess) {
        // Opening a disk needs a ready client; a failed set-up is tried again.
        std::lock_guard<std::mutex> guard(m_readBridges.lock);
        if (!InitializeDirectSnapshotAccessAPIWrapper()) {
            why = "the direct snapshot access client could not be set up";
            return false;
        }
        return DirectSnapshotAccess()->FillSnapshotAccessInfo(snapshotId, region, why);
    }
    std::lock_guard<std::mutex> guard(m_readBridges.lock);
    CAmazonSDKBridge* bridge = ReadBridgeLocked();
    if (!bridge) {
        why = "no connection to read it through";
        return false;
    }
    return AmazonCommon::BridgeCall(
        *bridge, __PRETTY_FUNCTION__, [&] { return bridge->FillSnapshotAccessInfo(snapshotId, region); }, why,
        "Error [%s]");
}

bool CAmazonInfo::ClearSnapshotAccessInfo(const std::string& snapshotId) {
    EvDebug::Debug(__PRETTY_FUNCTION__, "Clearing access info SnapshotId: [%s]", snapshotId.c_str());
    if (m_bUseDirectSnapshotAccess) {
        auto* client = DirectSnapshotAccess();
        return client && client->ClearSnapshotAccessInfo(snapshotId);
    }
    std::lock_guard<std::mutex> guard(m_readBridges.lock);
    CAmazonSDKBridge* bridge = ReadBridgeLocked();
    return bridge && bridge->ClearSnapshotAccessInfo(snapshotId);
}

CAmazonSDKBridge* CAmazonInfo::ReadBridgeLocked() {
    if (m_readBridges.readBridge && m_readBridges.readBridge->IsConnected()) return m_readBridges.readBridge.get();
    auto bridge = NewConnectedBridge();
    if (!bridge) return nullptr;
    m_readBridges.readBridge = std::move(bridge);
    return m_readBridges.readBridge.get();
}

std::unique_ptr<CAmazonSDKBridge> CAmazonInfo::NewConnectedBridge() {
    auto bridge = NewBridge();
    if (!bridge || !bridge->initialize(KDPI_Focus::getFocus(), KDPI_Focus::getAppName(), m_jobId)) return nullptr;
    if (!m_webProxyHost.empty()) bridge->SetWebProxy(m_webProxyHost, m_webProxyUser, m_webProxyPassword, 0);
    if (!AmazonCommon::BridgeCall(
            *bridge, __PRETTY_FUNCTION__, [&] { return bridge->Connect(m_strURL, m_strUser, m_strPassword); },
            "Cannot connect a bridge of its own. Error [%s]"))
        return nullptr;
    return bridge;
}
