// The wire backend's EBS direct block listings (ListSnapshotBlocks and
// ListChangedBlocks, REST-JSON): every page, or the first page only; and the
// bridge's own block reads (GetSnapshotBlock, each block's checksum checked).
#include <algorithm>
#include <cstdlib>

#include "bridge/wire/WireBackend.h"
#include "bridge/wire/WireEc2Records.h"
#include "framework/Clock.h"

using namespace bridgeimpl;
using namespace bridgeimpl::wire;

namespace {

// AWS's bounds of a block listing page.
constexpr int kMinPageBlocks = 100;
constexpr int kMaxPageBlocks = 10000;
// EBS's one block size (the listings say so too; an emulator may not).
constexpr long long kEbsBlockSize = 512 * 1024;

// A number field; a number written as text (as some emulators send it)
// reads the same.
long long Integer(const nlohmann::json& object, const char* key, long long fallback) {
    const auto it = object.find(key);
    if (it == object.end()) return fallback;
    if (it->is_number()) return it->get<long long>();
    if (it->is_string()) return std::atoll(it->get<std::string>().c_str());
    return fallback;
}

bool AddBlock(VMInfoStructs::SDiskChangeInfo& info, const nlohmann::json& block) {
    VMInfoStructs::SDiskChangeExtent extent;
    extent.blockIndex = Integer(block, "BlockIndex", 0);
    info.extents.push_back(extent);
    return true;
}

// ExpiryTime: seconds since the epoch, with a fraction; 0 without one.
long long ExpiryMs(const nlohmann::json& page) {
    const auto expiry = page.find("ExpiryTime");
    return expiry != page.end() && expiry->is_number() ? static_cast<long long>(expiry->get<double>() * 1000.0) : 0;
}

}  // namespace

bool WireBackend::ListBlocks(const std::string& previous, const std::string& current, const std::string& region,
                             bool firstPageOnly, int maxResults, int& blockSize, const BlockFn& onBlock,
                             std::string& error, long long startingIndex, const PageFn& onPage) {
    const bool changed = !previous.empty();
    const std::string path = "/snapshots/" + current + (changed ? "/changedblocks" : "/blocks");
    const int page = maxResults <= 0 ? kMaxPageBlocks : std::max(kMinPageBlocks, std::min(kMaxPageBlocks, maxResults));
    std::string token;
    for (;;) {
        QueryParams query;
        if (changed) query.emplace_back("firstSnapshotId", previous);
        query.emplace_back("maxResults", std::to_string(page));
        if (startingIndex > 0) query.emplace_back("startingBlockIndex", std::to_string(startingIndex));
        if (!token.empty()) query.emplace_back("pageToken", token);
        std::string body;
        if (!m_client.Get("ebs", RegionFor(region), path, query, body, error)) return false;
        const nlohmann::json json = nlohmann::json::parse(body, nullptr, false);
        if (!json.is_object()) {
            error = std::string("InternalError: ") + (changed ? "ListChangedBlocks" : "ListSnapshotBlocks") +
                    " answered with JSON that does not parse";
            return false;
        }
        blockSize = static_cast<int>(Integer(json, "BlockSize", blockSize));
        if (onPage) onPage(json);
        int listed = 0;
        bool enough = false;
        // A page is read whole even once onBlock has enough: a listing need
        // not be in index order, and a block passed over would read as zeros.
        for (const auto& block : json.value(changed ? "ChangedBlocks" : "Blocks", nlohmann::json::array())) {
            if (firstPageOnly && maxResults > 0 && listed == maxResults) break;
            if (!onBlock(block)) enough = true;
            ++listed;
        }
        const std::string next = json.value("NextToken", std::string());
        if (enough || firstPageOnly || next.empty() || next == token) return true;
        token = next;
    }
}

bool WireBackend::GetAllocatedBlockList(const std::string& snapshotId, const std::string& region,
                                        VMInfoStructs::SDiskChangeInfo& info, int& blockSize, long long&) {
    return Run("GetAllocatedBlockList", true, [&](std::string& error) {
        info.extents.clear();
        return ListBlocks("", snapshotId, region, false, 0, blockSize,
                          [&](const nlohmann::json& block) { return AddBlock(info, block); }, error);
    });
}

bool WireBackend::GetChangedBlockList(const std::string& previousSnapshotId, const std::string& currentSnapshotId,
                                      const std::string& region, VMInfoStructs::SDiskChangeInfo& info,
                                      int& blockSize, long long&) {
    return Run("GetChangedBlockList", true, [&](std::string& error) {
        info.extents.clear();
        return ListBlocks(previousSnapshotId, currentSnapshotId, region, false, 0, blockSize,
                          [&](const nlohmann::json& block) { return AddBlock(info, block); }, error);
    });
}

bool WireBackend::GetAllocatedBlockPage(const std::string& snapshotId, const std::string& region, int maxResults,
                                        VMInfoStructs::SDiskChangeInfo& info, int& blockSize) {
    return Run("GetAllocatedBlockPage", true, [&](std::string& error) {
        info.extents.clear();
        return ListBlocks("", snapshotId, region, true, maxResults, blockSize,
                          [&](const nlohmann::json& block) { return AddBlock(info, block); }, error);
    });
}

bool WireBackend::GetChangedBlockPage(const std::string& previousSnapshotId, const std::string& currentSnapshotId,
                                      const std::string& region, int maxResults,
                                      VMInfoStructs::SDiskChangeInfo& info, int& blockSize) {
    return Run("GetChangedBlockPage", true, [&](std::string& error) {
        info.extents.clear();
        return ListBlocks(previousSnapshotId, currentSnapshotId, region, true, maxResults, blockSize,
                          [&](const nlohmann::json& block) { return AddBlock(info, block); }, error);
    });
}

bool WireBackend::GetDirectSnapshotAccessInfo(const std::string& snapshotId, const std::string& region,
                                              int& blockSize, std::vector<CAmazonSDKBridge::SAwsEbsBlockInfo>& blocks) {
    return Run("GetDirectSnapshotAccessInfo", true, [&](std::string& error) {
        blocks.clear();
        long long expiryMs = 0;
        return ListBlocks(
            "", snapshotId, region, false, 0, blockSize,
            [&](const nlohmann::json& block) {
                CAmazonSDKBridge::SAwsEbsBlockInfo info;
                info.blockIndex = Integer(block, "BlockIndex", 0);
                info.blockToken = block.value("BlockToken", std::string());
                info.expiryMs = expiryMs;
                blocks.push_back(info);
                return true;
            },
            error, 0, [&](const nlohmann::json& page) { expiryMs = ExpiryMs(page); });
    });
}

bool WireBackend::ListTokens(const std::string& snapshotId, const std::string& region, long long firstIndex,
                             long long count, BlockAccess& access, std::string& error) {
    access.tokens.clear();
    access.expiryMs = 0;
    // A whole listing takes AWS's largest pages (maxResults 0).
    const int pages = count <= 0 ? 0 : static_cast<int>(std::min<long long>(count, kMaxPageBlocks));
    int blockSize = 0;
    return ListBlocks(
        "", snapshotId, region, false, pages, blockSize,
        [&](const nlohmann::json& block) {
            const long long index = Integer(block, "BlockIndex", -1);
            if (count > 0 && index >= firstIndex + count) return false;  // past the range
            if (index >= firstIndex) access.tokens[index] = block.value("BlockToken", std::string());
            return true;
        },
        error, firstIndex,
        [&](const nlohmann::json& page) {
            access.volumeBytes = Integer(page, "VolumeSize", 0) * kGiB;
            const long long ms = ExpiryMs(page);
            if (ms != 0 && (access.expiryMs == 0 || ms < access.expiryMs)) access.expiryMs = ms;
        });
}

bool WireBackend::FillSnapshotAccessInfo(const std::string& snapshotId, const std::string& region) {
    return Run("FillSnapshotAccessInfo", true, [&](std::string& error) {
        BlockAccess access;
        access.region = region;
        if (!ListTokens(snapshotId, region, 0, 0, access, error)) return false;
        m_access[snapshotId] = std::move(access);
        return true;
    });
}

bool WireBackend::ClearSnapshotAccessInfo(const std::string& snapshotId) {
    return Run("ClearSnapshotAccessInfo", false, [&](std::string& error) {
        if (m_access.erase(snapshotId)) return true;
        error = "InvalidParameterValue: No access information for snapshot " + snapshotId;
        return false;
    });
}

bool WireBackend::ReadFromSnapshot(const std::string& snapshotId, const std::string& region, long long offset,
                                   long long length, unsigned char* buffer) {
    return Run("ReadFromSnapshot", true, [&](std::string& error) {
        if (offset < 0 || length < 0 || (length > 0 && !buffer)) {
            error = "InvalidParameterValue: read of " + std::to_string(length) + " bytes at offset " +
                    std::to_string(offset) + " of snapshot " + snapshotId;
            return false;
        }
        const long long first = offset / kEbsBlockSize;
        const long long count = length == 0 ? 1 : (offset + length - 1) / kEbsBlockSize - first + 1;
        // The prepared listing while its tokens last (a minute's margin),
        // else the tokens of just this range.
        BlockAccess local;
        BlockAccess* access = nullptr;
        auto it = m_access.find(snapshotId);
        if (it != m_access.end()) {
            const long long now = FwClock::NowMs();
            if (it->second.expiryMs != 0 && now + 60000 >= it->second.expiryMs) {
                // Renewed whole or not at all: a half-made listing would read
                // the blocks it lacks as zeros.
                BlockAccess renewed;
                renewed.region = it->second.region;
                if (!ListTokens(snapshotId, renewed.region, 0, 0, renewed, error)) return false;
                it->second = std::move(renewed);
            }
            access = &it->second;
        } else {
            local.region = region;
            if (!ListTokens(snapshotId, region, first, count, local, error)) return false;
            access = &local;
        }
        // The tokens are good only in the region they were listed in.
        const std::string where = RegionFor(access->region);
        if (offset + length > access->volumeBytes) {
            error = "InvalidParameterValue: bytes " + std::to_string(offset) + "-" + std::to_string(offset + length) +
                    " are past the end of snapshot " + snapshotId + " (" + std::to_string(access->volumeBytes) +
                    " bytes)";
            return false;
        }
        for (long long index = first; index < first + count && length > 0; ++index) {
            const long long blockStart = index * kEbsBlockSize;
            const long long from = std::max(offset, blockStart);
            const long long to = std::min(offset + length, blockStart + kEbsBlockSize);
            unsigned char* out = buffer + (from - offset);
            const auto token = access->tokens.find(index);
            // A block the snapshot does not hold reads as zeros.
            if (token == access->tokens.end()) {
                std::fill(out, out + (to - from), 0);
                continue;
            }
            QueryClient::RestCall call;
            call.host = EndpointHost("ebs", where);
            call.path = "/snapshots/" + snapshotId + "/blocks/" + std::to_string(index);
            call.query = {{"blockToken", token->second}};
            std::string checksum;
            call.checksum = &checksum;
            long status = 0;
            std::string data;
            if (!m_client.Rest("ebs", where, call, status, data, error)) return false;
            if (static_cast<long long>(data.size()) != kEbsBlockSize) {
                error = "InternalError: block " + std::to_string(index) + " of snapshot " + snapshotId + " came with " +
                        std::to_string(data.size()) + " bytes, not " + std::to_string(kEbsBlockSize);
                return false;
            }
            if (checksum.empty() || checksum != Sha256Base64(data)) {
                error = "ChecksumMismatch: block " + std::to_string(index) + " of snapshot " + snapshotId +
                        " does not match its checksum" + (checksum.empty() ? " (none was sent)" : "");
                return false;
            }
            std::copy(data.data() + (from - blockStart), data.data() + (to - blockStart), out);
        }
        return true;
    });
}
