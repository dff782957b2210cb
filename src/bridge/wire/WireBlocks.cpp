// The wire backend's EBS direct block listings (ListSnapshotBlocks and
// ListChangedBlocks, REST-JSON): every page, or the first page only.
#include <algorithm>
#include <cstdlib>

#include "bridge/wire/WireBackend.h"

using namespace bridgeimpl;
using namespace bridgeimpl::wire;

namespace {

// AWS's bounds of a block listing page.
constexpr int kMinPageBlocks = 100;
constexpr int kMaxPageBlocks = 10000;

// A number field; a number written as text (as some emulators send it)
// reads the same.
long long Integer(const nlohmann::json& object, const char* key, long long fallback) {
    const auto it = object.find(key);
    if (it == object.end()) return fallback;
    if (it->is_number()) return it->get<long long>();
    if (it->is_string()) return std::atoll(it->get<std::string>().c_str());
    return fallback;
}

void AddBlock(VMInfoStructs::SDiskChangeInfo& info, const nlohmann::json& block) {
    VMInfoStructs::SDiskChangeExtent extent;
    extent.blockIndex = Integer(block, "BlockIndex", 0);
    info.extents.push_back(extent);
}

}  // namespace

bool WireBackend::ListBlocks(const std::string& previous, const std::string& current, const std::string& region,
                             bool firstPageOnly, int maxResults, int& blockSize,
                             const std::function<void(const nlohmann::json&, const nlohmann::json&)>& onBlock,
                             std::string& error) {
    const bool changed = !previous.empty();
    const std::string path = "/snapshots/" + current + (changed ? "/changedblocks" : "/blocks");
    const int page = maxResults <= 0 ? kMaxPageBlocks : std::max(kMinPageBlocks, std::min(kMaxPageBlocks, maxResults));
    std::string token;
    for (;;) {
        QueryParams query;
        if (changed) query.emplace_back("firstSnapshotId", previous);
        query.emplace_back("maxResults", std::to_string(page));
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
        int listed = 0;
        for (const auto& block : json.value(changed ? "ChangedBlocks" : "Blocks", nlohmann::json::array())) {
            if (firstPageOnly && maxResults > 0 && listed == maxResults) break;
            onBlock(block, json);
            ++listed;
        }
        const std::string next = json.value("NextToken", std::string());
        if (firstPageOnly || next.empty() || next == token) return true;
        token = next;
    }
}

bool WireBackend::GetAllocatedBlockList(const std::string& snapshotId, const std::string& region,
                                        VMInfoStructs::SDiskChangeInfo& info, int& blockSize, long long&) {
    return Run("GetAllocatedBlockList", true, [&](std::string& error) {
        info.extents.clear();
        return ListBlocks("", snapshotId, region, false, 0, blockSize,
                          [&](const nlohmann::json& block, const nlohmann::json&) { AddBlock(info, block); }, error);
    });
}

bool WireBackend::GetChangedBlockList(const std::string& previousSnapshotId, const std::string& currentSnapshotId,
                                      const std::string& region, VMInfoStructs::SDiskChangeInfo& info,
                                      int& blockSize, long long&) {
    return Run("GetChangedBlockList", true, [&](std::string& error) {
        info.extents.clear();
        return ListBlocks(previousSnapshotId, currentSnapshotId, region, false, 0, blockSize,
                          [&](const nlohmann::json& block, const nlohmann::json&) { AddBlock(info, block); }, error);
    });
}

bool WireBackend::GetAllocatedBlockPage(const std::string& snapshotId, const std::string& region, int maxResults,
                                        VMInfoStructs::SDiskChangeInfo& info, int& blockSize) {
    return Run("GetAllocatedBlockPage", true, [&](std::string& error) {
        info.extents.clear();
        return ListBlocks("", snapshotId, region, true, maxResults, blockSize,
                          [&](const nlohmann::json& block, const nlohmann::json&) { AddBlock(info, block); }, error);
    });
}

bool WireBackend::GetChangedBlockPage(const std::string& previousSnapshotId, const std::string& currentSnapshotId,
                                      const std::string& region, int maxResults,
                                      VMInfoStructs::SDiskChangeInfo& info, int& blockSize) {
    return Run("GetChangedBlockPage", true, [&](std::string& error) {
        info.extents.clear();
        return ListBlocks(previousSnapshotId, currentSnapshotId, region, true, maxResults, blockSize,
                          [&](const nlohmann::json& block, const nlohmann::json&) { AddBlock(info, block); }, error);
    });
}

bool WireBackend::GetDirectSnapshotAccessInfo(const std::string& snapshotId, const std::string& region,
                                              int& blockSize, std::vector<CAmazonSDKBridge::SAwsEbsBlockInfo>& blocks) {
    return Run("GetDirectSnapshotAccessInfo", true, [&](std::string& error) {
        blocks.clear();
        return ListBlocks("", snapshotId, region, false, 0, blockSize,
                          [&](const nlohmann::json& block, const nlohmann::json& page) {
                              CAmazonSDKBridge::SAwsEbsBlockInfo info;
                              info.blockIndex = Integer(block, "BlockIndex", 0);
                              info.blockToken = block.value("BlockToken", std::string());
                              // ExpiryTime: seconds since the epoch, with a fraction.
                              const auto expiry = page.find("ExpiryTime");
                              if (expiry != page.end() && expiry->is_number())
                                  info.expiryMs = static_cast<long long>(expiry->get<double>() * 1000.0);
                              blocks.push_back(info);
                          },
                          error);
    });
}
