#pragma once
// The snapshot manager's own text of a snapshot it made (metadata entry
// type 6): "key:value;" pairs such as snapUUID, sourceRegion, targetRegion.
// Thread-safe: no state.
#include <string>
#include <vector>

namespace SnapMetadataPairs {
// The snapshot id ("snapUUID") and region ("sourceRegion"), keys compared
// ignoring case, the first of each; scanning stops once both are known.
// Tokens that are not exactly key:value are skipped and added to invalid,
// for the caller's log: at most kMaxInvalidTokens of them, each cut to
// kMaxInvalidTokenChars, so that a runaway text cannot flood the log.
// False unless both were found.
constexpr size_t kMaxInvalidTokens = 8;
constexpr size_t kMaxInvalidTokenChars = 256;
bool FindSnapshotAndRegion(const std::string& text, std::string& snapshotId, std::string& region,
                           std::vector<std::string>& invalid);
}  // namespace SnapMetadataPairs
