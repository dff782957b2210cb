// Block tokens that expire: a block read renews its token, by listing that
// range of the snapshot again, before the token's expiry or when the service
// refuses it as invalid.
#include <algorithm>
#include <cmath>
#include <cstring>

#include <nlohmann/json.hpp>

#include "ebsdirect/AmazonDirectSnapshotAccessAPIWrapper.h"
#include "framework/Clock.h"
#include "framework/EvDebug.h"

namespace AmazonDirectSnapshotAccessAPI {

namespace {
const char* const kTag = "CAmazonDirectSnapshotAccessAPIWrapper";
// The fewest a page may ask for; a renewal needs the one token it read.
constexpr int kListPageBlocks = 100;
// Pages may come back short or empty with a NextToken; a range that has not
// turned up after this many is given up.
constexpr int kMaxListPages = 16;
// A page of 100 blocks is about 15 KiB of JSON.
constexpr size_t kListBodyBytes = 256 * 1024;

// The blocks of one ListSnapshotBlocks page; false when the body is not one.
bool ParsePage(const unsigned char* body, uint64_t size, std::vector<BlockTokenEntry>& blocks,
               std::string& nextToken) {
    const nlohmann::json page = nlohmann::json::parse(body, body + size, nullptr, false);
    if (!page.is_object()) return false;
    int64_t expiryMs = 0;
    auto expiry = page.find("ExpiryTime");
    if (expiry != page.end() && expiry->is_number()) expiryMs = std::llround(expiry->get<double>() * 1000.0);
    auto list = page.find("Blocks");
    if (list != page.end() && list->is_array()) {
        for (const auto& block : *list) {
            auto index = block.find("BlockIndex");
            auto token = block.find("BlockToken");
            if (index == block.end() || !index->is_number_integer() || token == block.end() || !token->is_string())
                return false;
            blocks.push_back({index->get<int64_t>(), token->get<std::string>(), expiryMs});
        }
    }
    auto next = page.find("NextToken");
    nextToken = next != page.end() && next->is_string() ? next->get<std::string>() : std::string();
    return true;
}

}  // namespace

bool CAmazonDirectSnapshotAccessAPIWrapper::readBlock(CAmazonRESTAPIConnection& connection, SnapshotAccessInfo& info,
                                                      const std::string& region, int64_t index,
                                                      unsigned char* destination, uint64_t& received,
                                                      std::string& why) {
    BlockTokenEntry entry;
    if (!getBlockToken(info, index, entry)) {
        std::memset(destination, 0, static_cast<size_t>(info.blockSize));
        received = static_cast<uint64_t>(info.blockSize);
        return true;
    }
    const long long shown = static_cast<long long>(index);
    bool renewed = false;
    if (entry.expiryMs != 0 && FwClock::NowMs() >= entry.expiryMs - kTokenExpiryMarginMs) {
        EvDebug::Debug(kTag, "Block token of [%s][%lld] is about to expire; listing it again.",
                       info.snapshotId.c_str(), shown);
        if (!renewToken(connection, info, region, index, entry, why)) return false;
        renewed = true;
    }
    if (getSnapshotBlock(connection, info.snapshotId, region, index, entry.token, destination, info.blockSize,
                         received))
        return true;
    if (renewed || connection.lastError().reason != kInvalidBlockTokenReason) {
        why = connection.lastFailure();
        return false;
    }
    EvDebug::Debug(kTag, "Block token of [%s][%lld] was refused as invalid; listing it again.",
                   info.snapshotId.c_str(), shown);
    if (!renewToken(connection, info, region, index, entry, why)) return false;
    if (getSnapshotBlock(connection, info.snapshotId, region, index, entry.token, destination, info.blockSize,
                         received))
        return true;
    why = connection.lastFailure();
    return false;
}

bool CAmazonDirectSnapshotAccessAPIWrapper::renewToken(CAmazonRESTAPIConnection& connection, SnapshotAccessInfo& info,
                                                       const std::string& region, int64_t index,
                                                       BlockTokenEntry& entry, std::string& why) {
    if (!refreshBlockTokens(connection, info, region, index, why)) return false;
    if (getBlockToken(info, index, entry)) return true;
    why = "the listing of " + info.snapshotId + " no longer holds block " + std::to_string(index);
    return false;
}

bool CAmazonDirectSnapshotAccessAPIWrapper::refreshBlockTokens(CAmazonRESTAPIConnection& connection,
                                                               SnapshotAccessInfo& info, const std::string& region,
                                                               int64_t index, std::string& why) {
    std::vector<unsigned char> body(kListBodyBytes);
    std::vector<BlockTokenEntry> listed;
    std::string pageToken;
    bool reached = false;
    for (int page = 0; page < kMaxListPages && !reached; ++page) {
        AWSRequestOptions options;
        options.region = region;
        options.service = "ebs";
        options.downloadBuffer = body.data();
        options.downloadBufferSize = body.size();
        options.checksummedBody = false;
        options.queryParameters = {{"maxResults", std::to_string(kListPageBlocks)}};
        if (pageToken.empty())
            options.queryParameters.push_back({"startingBlockIndex", std::to_string(index)});
        else
            options.queryParameters.push_back({"pageToken", pageToken});
        std::string response;
        if (!connection.get("/snapshots/" + info.snapshotId + "/blocks", response, &options)) {
            EvDebug::Error(kTag, "Failed to list the block tokens of [%s] from block [%lld].",
                           info.snapshotId.c_str(), static_cast<long long>(index));
            why = "the block tokens of " + info.snapshotId + " cannot be listed again: " + connection.lastFailure();
            return false;
        }
        const size_t before = listed.size();
        if (!ParsePage(body.data(), options.bytesReceived, listed, pageToken)) {
            EvDebug::Error(kTag, "The block list of [%s] could not be read.", info.snapshotId.c_str());
            why = "the block list of " + info.snapshotId + " could not be read";
            return false;
        }
        for (size_t i = before; i < listed.size(); ++i) reached = reached || listed[i].index >= index;
        if (pageToken.empty()) break;
    }
    std::lock_guard<std::mutex> lock(info.tokenLock);
    for (BlockTokenEntry& fresh : listed) {
        auto it = std::lower_bound(info.blockTokens.begin(), info.blockTokens.end(), fresh.index,
                                   [](const BlockTokenEntry& e, int64_t wanted) { return e.index < wanted; });
        if (it != info.blockTokens.end() && it->index == fresh.index) *it = std::move(fresh);
    }
    return true;
}

}  // namespace AmazonDirectSnapshotAccessAPI
