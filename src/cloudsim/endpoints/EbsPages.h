#pragma once
// One page of an EBS direct block listing. AWS's pages may be short, or
// empty with a NextToken, and a client must page on until there is none;
// the simulated pages are too, drawn from the request so that a run repeats.
// A page costs what it lists: it walks from its first index and stops at
// its limits, never touching the rest of the snapshots.
#include <cstdint>
#include <string>
#include <vector>

#include "cloudsim/CloudState.h"

namespace cloudsim::endpoints {

struct PageLimits {
    int64_t report = 0;    // most entries the page lists
    int64_t visit = 0;     // most block indexes it looks at
};

// The limits of the page of listing that starts at next after stalls pages
// in a row stopped there, for a request of maxResults: most pages are full,
// some short and, unless the listing already stalled there, some empty.
PageLimits PageShape(const std::string& listing, int64_t next, int stalls, int64_t maxResults);

struct ChangedEntry {
    int64_t index = 0;
    bool inFirst = false;      // the first snapshot holds the block
    bool inSecond = false;     // the second one does
};

struct BlockPage {
    std::vector<ChangedEntry> entries;
    bool more = false;         // the listing goes on at next
    int64_t next = 0;
    int64_t visited = 0;       // block indexes looked at (the page's work)
};

// The blocks from index from on whose content differs between first and
// second (a block held by one only differs), in index order, within limits.
// A listing of one snapshot's blocks is its difference from no blocks.
BlockPage ChangedPage(const BlockMap& first, const BlockMap& second, int64_t from, const PageLimits& limits);

}  // namespace cloudsim::endpoints
