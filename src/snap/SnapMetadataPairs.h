#pragma once
// The snapshot manager's own text of a snapshot it made (metadata entry
// type 6): "key:value;" pairs such as snapUUID, sourceRegion, targetRegion.
// Thread-safe: no state.
#include <string>
#include <vector>

namespace SnapMetadataPairs {
// The snapshot id ("snapUUID") and region ("sourceRegion"), keys compared
// ignoring case, the first of each; scanning stops once both are known.
// Tokens that are not exactly key:value are skipped and described in
// complaints ("Invalid keyvalue: [...]"). False unless both were found.
bool FindSnapshotAndRegion(const std::string& text, std::string& snapshotId, std::string& region,
                           std::vector<std::string>& complaints);
}  // namespace SnapMetadataPairs
