// Block tokens on the read path: a block read takes its token from the
// window that holds it, which the reader lists on its own connection when it
// is not held, about to expire or refused as invalid.
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
// What a page may ask for, as the service model bounds maxResults.
constexpr int64_t kMinPageBlocks = 100;
constexpr int64_t kMaxPageBlocks = 10000;
// Pages may come back short or empty with a NextToken; a window whose end
// has not turned up after this many is given up.
constexpr int kMaxListPages = 64;
// A page of 100 blocks is about 15 KiB of JSON, so 10000 about 1.5 MiB.
constexpr size_t kListBodyBytes = 4 * 1024 * 1024;

// A listed block index: a JSON integer, or its decimal digits quoted, as
// some services that mimic EBS write it.
bool BlockIndex(const nlohmann::json& value, int64_t& index) {
    if (value.is_number_integer()) {
        index = value.get<int64_t>();
        return index >= 0;
    }
    if (!value.is_string()) return false;
    const std::string& text = value.get_ref<const std::string&>();
    if (text.empty() || text.size() > 18 || !std::all_of(text.begin(), text.end(), [](unsigned char c) {
            return c >= '0' && c <= '9';
        }))
        return false;
    index = std::stoll(text);
    return true;
}

// The blocks of one ListSnapshotBlocks page; false when the body is not one.
bool ParsePage(const unsigned char* body, uint64_t size, std::vector<BlockTokenEntry>& blocks, int64_t& expiryMs,
               int64_t& volumeBlocks, std::string& nextToken) {
    const nlohmann::json page = nlohmann::json::parse(body, body + size, nullptr, false);
    if (!page.is_object()) return false;
    expiryMs = 0;
    // VolumeSize is in GiB, so a whole number of blocks of any block size.
    auto gib = page.find("VolumeSize");
    auto blockSize = page.find("BlockSize");
    if (gib != page.end() && gib->is_number_integer() && blockSize != page.end() &&
        blockSize->is_number_integer() && blockSize->get<int64_t>() > 0 && gib->get<int64_t>() > 0)
        volumeBlocks = (gib->get<int64_t>() << 30) / blockSize->get<int64_t>();
    auto expiry = page.find("ExpiryTime");
    if (expiry != page.end() && expiry->is_number()) expiryMs = std::llround(expiry->get<double>() * 1000.0);
    auto list = page.find("Blocks");
    if (list != page.end() && list->is_array()) {
        for (const auto& block : *list) {
            auto index = block.find("BlockIndex");
            auto token = block.find("BlockToken");
            int64_t at = 0;
            if (index == block.end() || !BlockIndex(*index, at) || token == block.end() || !token->is_string())
                return false;
            blocks.push_back({at, token->get<std::string>()});
        }
    }
    auto next = page.find("NextToken");
    nextToken = next != page.end() && next->is_string() ? next->get<std::string>() : std::string();
    return true;
}

}  // namespace

BlockTokenWindows::Lister CAmazonDirectSnapshotAccessAPIWrapper::windowLister(CAmazonRESTAPIConnection& connection,
                                                                               SnapshotAccessInfo& info,
                                                                               const std::string& region) {
    // A window another reader failed to list fails that reader too, with
    // the words of this listing.
    return [&connection, &info, &region](int64_t first, int64_t end, std::vector<BlockTokenEntry>& blocks,
                                          int64_t& expiryMs) {
        std::string failure;
        int64_t volumeBlocks = 0;
        if (listBlockTokens(connection, info.snapshotId, region, first, end, blocks, expiryMs, volumeBlocks,
                            failure)) {
            if (volumeBlocks > 0) info.tokens.SetBlockCount(volumeBlocks);
            return true;
        }
        info.SetListFailure(failure);
        return false;
    };
}

bool CAmazonDirectSnapshotAccessAPIWrapper::readBlock(CAmazonRESTAPIConnection& connection, SnapshotAccessInfo& info,
                                                      BlockTokenWindows::Reading& reading,
                                                      const BlockTokenWindows::Lister& list, const std::string& region,
                                                      int64_t index, unsigned char* destination, uint64_t& received,
                                                      std::string& why) {
    const auto listingFailed = [&] {
        why = info.ListFailure();
        if (why.empty())
            why = "the block tokens of " + info.snapshotId + " around block " + std::to_string(index) +
                  " could not be listed";
        return false;
    };
    BlockTokenWindows::Token token;
    if (!info.tokens.Find(reading, index, list, token)) return listingFailed();
    if (!token.allocated) {
        std::memset(destination, 0, static_cast<size_t>(info.blockSize));
        received = static_cast<uint64_t>(info.blockSize);
        return true;
    }
    if (getSnapshotBlock(connection, info.snapshotId, region, index, token.token, destination, info.blockSize,
                         received))
        return true;
    // A token renewed for this very read and refused is not renewed again.
    if (token.renewed || connection.lastError().reason != kInvalidBlockTokenReason) {
        why = connection.lastFailure();
        return false;
    }
    EvDebug::Debug(kTag, "Block token of [%s][%lld] was refused as invalid; listing it again.",
                   info.snapshotId.c_str(), static_cast<long long>(index));
    if (!info.tokens.Renew(reading, index, list, token)) return listingFailed();
    if (!token.allocated) {
        EvDebug::Error(kTag, "Block [%lld] of [%s] is no longer listed.", static_cast<long long>(index),
                       info.snapshotId.c_str());
        why = "the listing of " + info.snapshotId + " no longer holds block " + std::to_string(index);
        return false;
    }
    if (getSnapshotBlock(connection, info.snapshotId, region, index, token.token, destination, info.blockSize,
                         received))
        return true;
    why = connection.lastFailure();
    return false;
}

bool CAmazonDirectSnapshotAccessAPIWrapper::listBlockTokens(CAmazonRESTAPIConnection& connection,
                                                            const std::string& snapshotId, const std::string& region,
                                                            int64_t first, int64_t end,
                                                            std::vector<BlockTokenEntry>& blocks, int64_t& expiryMs,
                                                            int64_t& volumeBlocks, std::string& why) {
    std::vector<unsigned char> body(kListBodyBytes);
    std::vector<BlockTokenEntry> listed;
    const std::string pageBlocks = std::to_string(std::min(kMaxPageBlocks, std::max(kMinPageBlocks, end - first)));
    std::string pageToken;
    expiryMs = 0;
    volumeBlocks = 0;
    blocks.clear();
    // A window wider than a page takes a page per maxResults blocks besides.
    const int64_t maxPages = kMaxListPages + (end - first) / kMaxPageBlocks;
    for (int64_t page = 0; page < maxPages; ++page) {
        AWSRequestOptions options;
        options.region = region;
        options.service = "ebs";
        options.downloadBuffer = body.data();
        options.downloadBufferSize = body.size();
        options.checksummedBody = false;
        options.queryParameters = {{"maxResults", pageBlocks}};
        if (pageToken.empty())
            options.queryParameters.push_back({"startingBlockIndex", std::to_string(first)});
        else
            options.queryParameters.push_back({"pageToken", pageToken});
        std::string response;
        if (!connection.get("/snapshots/" + snapshotId + "/blocks", response, &options)) {
            EvDebug::Error(kTag, "Failed to list the block tokens of [%s] from block [%lld].", snapshotId.c_str(),
                           static_cast<long long>(first));
            why = "the block tokens of " + snapshotId + " cannot be listed: " + connection.lastFailure();
            return false;
        }
        listed.clear();
        int64_t pageExpiryMs = 0;
        if (!ParsePage(body.data(), options.bytesReceived, listed, pageExpiryMs, volumeBlocks, pageToken)) {
            EvDebug::Error(kTag, "The block list of [%s] could not be read.", snapshotId.c_str());
            why = "the block list of " + snapshotId + " could not be read";
            return false;
        }
        // The window's tokens are as good as its earliest page's.
        if (pageExpiryMs != 0 && (expiryMs == 0 || pageExpiryMs < expiryMs)) expiryMs = pageExpiryMs;
        // AWS lists from startingBlockIndex on, ascending; a server that
        // lists more or in another order still yields the window's blocks.
        // So is a window whose last block, or the volume's, has been listed:
        // no later page can hold one of its blocks, and a fully allocated
        // window would otherwise cost an empty page after its full one.
        const int64_t last = (volumeBlocks > 0 ? std::min(end, volumeBlocks) : end) - 1;
        bool passed = false;
        for (BlockTokenEntry& entry : listed) {
            if (entry.index >= last) passed = true;
            if (entry.index >= first && entry.index < end) blocks.push_back(std::move(entry));
        }
        if (passed || pageToken.empty()) {
            auto byIndex = [](const BlockTokenEntry& a, const BlockTokenEntry& b) { return a.index < b.index; };
            if (!std::is_sorted(blocks.begin(), blocks.end(), byIndex)) std::sort(blocks.begin(), blocks.end(), byIndex);
            // A block listed twice would leave one of its tokens unchecked.
            auto twice = std::adjacent_find(blocks.begin(), blocks.end(),
                                            [](const BlockTokenEntry& a, const BlockTokenEntry& b) {
                                                return a.index == b.index;
                                            });
            if (twice != blocks.end()) {
                EvDebug::Error(kTag, "Block token cache insert failed. Snapshot [%s] blockIndex [%lld]",
                               snapshotId.c_str(), static_cast<long long>(twice->index));
                why = "the block list of " + snapshotId + " names block " + std::to_string(twice->index) + " twice";
                return false;
            }
            return true;
        }
    }
    EvDebug::Error(kTag, "The block list of [%s] did not pass block [%lld] in [%lld] pages.", snapshotId.c_str(),
                   static_cast<long long>(end), static_cast<long long>(maxPages));
    why = "the block list of " + snapshotId + " did not reach block " + std::to_string(end) + " in " +
          std::to_string(maxPages) + " pages";
    return false;
}

}  // namespace AmazonDirectSnapshotAccessAPI
