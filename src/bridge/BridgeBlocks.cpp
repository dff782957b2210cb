// Block data of snapshots (direct reads and block lists with their tokens),
// the permission and Marketplace checks, and a volume's descriptive metadata.
#include "bridge/BridgeImpl.h"
#include "cloudsim/BlockStore.h"
#include "cloudsim/BlockToken.h"
#include "framework/Clock.h"

#include <algorithm>

using namespace bridgeimpl;
using cloudsim::Snapshot;
using cloudsim::State;
using cloudsim::Volume;

namespace {

const int64_t kGiB = 1024LL * 1024 * 1024;

// A snapshot whose blocks can be read or listed, in the region the call names.
template <class Impl>  // SimBackend::Impl, private to the backend
const Snapshot* ReadableSnapshot(const Impl& d, const State& s, const std::string& snapshotId,
                                 const std::string& region, const char* action, std::string& error) {
    std::string where;
    if (!d.ResolveRegion(s, region, where, error)) return nullptr;
    return cloudsim::BlockReadableSnapshot(s, snapshotId, d.accountId, where, action, error);
}

}  // namespace

bool SimBackend::ReadFromSnapshot(const std::string& snapshotId, const std::string& region, long long offset,
                                        long long length, unsigned char* buffer) {
    Impl& d = *m_impl;
    return d.Run("ReadFromSnapshot", true, [&](std::string& error) {
        cloudsim::BlockMap blocks;
        bool ok = d.Look([&](const State& s) {
            const Snapshot* snap = ReadableSnapshot(d, s, snapshotId, region, "GetSnapshotBlock", error);
            if (!snap) return false;
            if (!cloudsim::CheckBlockRange(*snap, offset, length, error)) return false;
            if (length > 0 && !buffer) return Err(error, "ValidationException: No buffer to read into");
            blocks = snap->blocks;
            return true;
        });
        // Stored blocks never change, so the copy is read outside the lock.
        if (ok) cloudsim::ReadBlocks(d.cloud->Blocks(), blocks, offset, length, reinterpret_cast<char*>(buffer));
        return ok;
    });
}

bool SimBackend::GetDirectSnapshotAccessInfo(const std::string& snapshotId, const std::string& region,
                                                   int& blockSize, std::vector<SAwsEbsBlockInfo>& blocks) {
    Impl& d = *m_impl;
    return d.Run("GetDirectSnapshotAccessInfo", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            const Snapshot* snap = ReadableSnapshot(d, s, snapshotId, region, "ListSnapshotBlocks", error);
            if (!snap) return false;
            blockSize = static_cast<int>(cloudsim::kBlockSize);
            blocks.clear();
            const int64_t issuedMs = FwClock::NowMs();
            for (const auto& entry : snap->blocks) {
                SAwsEbsBlockInfo info;
                info.blockIndex = entry.first;
                info.blockToken = cloudsim::BlockToken(snapshotId, entry.first, issuedMs);
                info.expiryMs = issuedMs + cloudsim::kBlockTokenLifetimeMs;
                blocks.push_back(std::move(info));
            }
            return true;
        });
    });
}

namespace {

void AddBlock(VMInfoStructs::SDiskChangeInfo& info, int64_t index) {
    VMInfoStructs::SDiskChangeExtent extent;
    extent.blockIndex = index;
    info.extents.push_back(extent);
}

// The allocated blocks of a snapshot in ascending order, at most limit of
// them (0: all).
template <class Impl>
bool ListAllocated(Impl& d, const char* op, const std::string& snapshotId, const std::string& region, size_t limit,
                   VMInfoStructs::SDiskChangeInfo& info, int& blockSize) {
    return d.Run(op, true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            const Snapshot* snap = ReadableSnapshot(d, s, snapshotId, region, "ListSnapshotBlocks", error);
            if (!snap) return false;
            blockSize = static_cast<int>(cloudsim::kBlockSize);
            info.extents.clear();
            for (const auto& entry : snap->blocks) {
                if (limit && info.extents.size() == limit) break;
                AddBlock(info, entry.first);
            }
            return true;
        });
    });
}

// The blocks that differ between two snapshots of one lineage, ascending, at
// most limit of them (0: all).
template <class Impl>
bool ListChanged(Impl& d, const char* op, const std::string& previousSnapshotId,
                 const std::string& currentSnapshotId, const std::string& region, size_t limit,
                 VMInfoStructs::SDiskChangeInfo& info, int& blockSize) {
    return d.Run(op, true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            const Snapshot* previous = ReadableSnapshot(d, s, previousSnapshotId, region, "ListChangedBlocks", error);
            if (!previous) return false;
            const Snapshot* current = ReadableSnapshot(d, s, currentSnapshotId, region, "ListChangedBlocks", error);
            if (!current) return false;
            // Snapshots of a volume restored from an earlier snapshot compare
            // with that snapshot; snapshots of unrelated volumes do not.
            if (!cloudsim::CheckComparable(s, *previous, *current, error)) return false;
            blockSize = static_cast<int>(cloudsim::kBlockSize);
            info.extents.clear();
            // A block written with zeros leaves the map; it has changed all
            // the same and must be read (as zeros). Both maps are walked in
            // step, so a page costs what it lists, not what the maps hold.
            auto a = previous->blocks.begin(), b = current->blocks.begin();
            const auto aEnd = previous->blocks.end(), bEnd = current->blocks.end();
            // A snapshot taken of an unchanged volume shares the map itself.
            if (previous->blocks.Shares(current->blocks)) a = aEnd, b = bEnd;
            while ((a != aEnd || b != bEnd) && !(limit && info.extents.size() == limit)) {
                const bool takeA = b == bEnd || (a != aEnd && a->first < b->first);
                const bool takeB = a == aEnd || (b != bEnd && b->first < a->first);
                if (takeA) {
                    AddBlock(info, (a++)->first);
                } else if (takeB) {
                    AddBlock(info, (b++)->first);
                } else {
                    if (a->second != b->second) AddBlock(info, a->first);
                    ++a;
                    ++b;
                }
            }
            return true;
        });
    });
}

// AWS's largest page of a block listing.
constexpr size_t kMaxPageBlocks = 10000;

size_t PageLimit(int maxResults) {
    return maxResults <= 0 ? kMaxPageBlocks : std::min(kMaxPageBlocks, static_cast<size_t>(maxResults));
}

}  // namespace

bool SimBackend::GetAllocatedBlockList(const std::string& snapshotId, const std::string& region,
                                             VMInfoStructs::SDiskChangeInfo& info, int& blockSize, long long&) {
    return ListAllocated(*m_impl, "GetAllocatedBlockList", snapshotId, region, 0, info, blockSize);
}

bool SimBackend::GetChangedBlockList(const std::string& previousSnapshotId,
                                           const std::string& currentSnapshotId, const std::string& region,
                                           VMInfoStructs::SDiskChangeInfo& info, int& blockSize, long long&) {
    return ListChanged(*m_impl, "GetChangedBlockList", previousSnapshotId, currentSnapshotId, region, 0, info,
                       blockSize);
}

bool SimBackend::GetAllocatedBlockPage(const std::string& snapshotId, const std::string& region,
                                             int maxResults, VMInfoStructs::SDiskChangeInfo& info, int& blockSize) {
    return ListAllocated(*m_impl, "GetAllocatedBlockPage", snapshotId, region, PageLimit(maxResults), info,
                         blockSize);
}

bool SimBackend::GetChangedBlockPage(const std::string& previousSnapshotId,
                                           const std::string& currentSnapshotId, const std::string& region,
                                           int maxResults, VMInfoStructs::SDiskChangeInfo& info, int& blockSize) {
    return ListChanged(*m_impl, "GetChangedBlockPage", previousSnapshotId, currentSnapshotId, region,
                       PageLimit(maxResults), info, blockSize);
}

bool SimBackend::FillSnapshotAccessInfo(const std::string& snapshotId, const std::string& region) {
    Impl& d = *m_impl;
    return d.Run("FillSnapshotAccessInfo", true, [&](std::string& error) {
        bool ok = d.Look([&](const State& s) { return ReadableSnapshot(d, s, snapshotId, region, "ListSnapshotBlocks", error) != nullptr; });
        if (ok) d.preparedSnapshots.insert(snapshotId);
        return ok;
    });
}

bool SimBackend::ClearSnapshotAccessInfo(const std::string& snapshotId) {
    Impl& d = *m_impl;
    return d.Run("ClearSnapshotAccessInfo", false, [&](std::string& error) {
        if (d.preparedSnapshots.erase(snapshotId)) return true;
        return Err(error, "InvalidParameterValue: No access information for snapshot " + snapshotId);
    });
}

bool SimBackend::CheckPermissions(const std::vector<std::string>& actions, bool& allowed) {
    Impl& d = *m_impl;
    allowed = false;
    return d.Run("CheckPermissions", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            const cloudsim::Account* account = s.FindAccount(d.accountId);
            if (!account) return Err(error, cloudsim::InvalidClientToken());
            allowed = true;
            for (const auto& action : actions)
                if (cloudsim::ActionDenied(*account, action) || d.Effect({action}) == "error") allowed = false;
            return true;
        });
    });
}

bool SimBackend::IsMarketPlaceVolume(const std::string& volumeId, const std::string& region) {
    Impl& d = *m_impl;
    bool marketplace = false;
    bool ok = d.Run("IsMarketPlaceVolume", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            std::string where;
            if (!d.ResolveRegion(s, region, where, error)) return false;
            const Volume* v = FindOwned(s.volumes, volumeId, d.accountId, where);
            if (!v) return Err(error, VolumeNotFound(volumeId));
            marketplace = !v->productCodes.empty();
            return true;
        });
    });
    return ok && marketplace;
}

bool SimBackend::GetDiskMetadata(const std::string& volumeId, const std::string& region,
                                       std::vector<VMInfoStructs::SDiskMetadataInfo>& metadata) {
    Impl& d = *m_impl;
    return d.Run("GetDiskMetadata", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            std::string where;
            if (!d.ResolveRegion(s, region, where, error)) return false;
            const Volume* v = FindOwned(s.volumes, volumeId, d.accountId, where);
            if (!v) return Err(error, VolumeNotFound(volumeId));
            metadata = DiskMetadataOf({v->type, v->kmsKeyId, v->state, v->zone, v->sizeBytes / kGiB, v->iops,
                                       v->encrypted});
            return true;
        });
    });
}

std::string SimBackend::GetRegionFromZone(const std::string& zone) {
    Impl& d = *m_impl;
    std::string region;
    d.Run("GetRegionFromZone", false, [&](std::string& error) {
        return d.Look([&](const State& s) {
            const cloudsim::Region* r = s.RegionOfZone(zone);
            if (!r) return Err(error, InvalidZone(zone));
            region = r->name;
            return true;
        });
    });
    return region;
}
