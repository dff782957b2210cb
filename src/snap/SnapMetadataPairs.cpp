// Reading the snapshot manager's key/value text of a snapshot.
#include "snap/SnapMetadataPairs.h"

#include <strings.h>

bool SnapMetadataPairs::FindSnapshotAndRegion(const std::string& text, std::string& snapshotId, std::string& region,
                                              std::vector<std::string>& invalid) {
    std::string id, where;
    size_t begin = 0;
    while (begin < text.size() && (id.empty() || where.empty())) {
        size_t end = text.find(';', begin);
        if (end == std::string::npos) end = text.size();
        const std::string token = text.substr(begin, end - begin);
        begin = end + 1;
        if (token.empty()) continue;
        const size_t colon = token.find(':');
        if (colon == std::string::npos || token.find(':', colon + 1) != std::string::npos) {
            if (invalid.size() < kMaxInvalidTokens) invalid.push_back(token.substr(0, kMaxInvalidTokenChars));
            continue;
        }
        const std::string key = token.substr(0, colon), value = token.substr(colon + 1);
        if (id.empty() && strcasecmp(key.c_str(), "snapUUID") == 0) id = value;
        else if (where.empty() && strcasecmp(key.c_str(), "sourceRegion") == 0) where = value;
    }
    if (id.empty() || where.empty()) return false;
    snapshotId = id;
    region = where;
    return true;
}
