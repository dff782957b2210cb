#include "cloudsim/endpoints/EbsPages.h"

#include <algorithm>

#include "cloudsim/endpoints/Digest.h"

namespace cloudsim::endpoints {

namespace {

// A changed-block listing may walk this many unchanged blocks per listed one
// before it ends the page short.
const int64_t kVisitsPerEntry = 4;

}  // namespace

PageLimits PageShape(const std::string& listing, int64_t next, int stalls, int64_t maxResults) {
    std::string draw = Sha256(listing + '\n' + std::to_string(next) + '\n' + std::to_string(stalls));
    auto byte = [&](size_t i) { return static_cast<unsigned char>(draw[i]); };
    PageLimits limits{maxResults, kVisitsPerEntry * maxResults};
    switch (byte(0) % 4) {
    case 0:
        if (stalls == 0) limits.report = 0;
        break;
    case 1:
        limits.report = 1 + (byte(1) * 256 + byte(2)) % maxResults;
        break;
    default:
        break;
    }
    return limits;
}

BlockPage ChangedPage(const BlockMap& first, const BlockMap& second, int64_t from, const PageLimits& limits) {
    BlockPage page;
    auto a = first.lower_bound(from), b = second.lower_bound(from);
    while (a != first.end() || b != second.end()) {
        int64_t index = a == first.end() ? b->first : b == second.end() ? a->first : std::min(a->first, b->first);
        if (static_cast<int64_t>(page.entries.size()) >= limits.report || page.visited >= limits.visit) {
            page.more = true;
            page.next = index;
            return page;
        }
        ++page.visited;
        bool inFirst = a != first.end() && a->first == index;
        bool inSecond = b != second.end() && b->first == index;
        if (inFirst != inSecond || (inFirst && a->second != b->second))
            page.entries.push_back({index, inFirst, inSecond});
        if (inFirst) ++a;
        if (inSecond) ++b;
    }
    return page;
}

}  // namespace cloudsim::endpoints
