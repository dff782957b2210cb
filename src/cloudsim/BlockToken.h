#pragma once
// The opaque tokens the EBS direct APIs hand out. A block token names one
// block of a snapshot and when it was issued, and is good for a week from
// then; a page token names where a listing goes on, and is good for an hour
// (both as AWS documents them). Each is standard base64 of its fields and a
// check value, so a changed token, or one of another block or listing, is
// refused; the check value's length varies with what it covers, so that, as
// with AWS's tokens, some end in "=" or "==" and most hold "+" or "/".
#include <cstdint>
#include <string>

namespace cloudsim {

constexpr int64_t kBlockTokenLifetimeMs = 7LL * 24 * 3600 * 1000;
constexpr int64_t kPageTokenLifetimeMs = 60LL * 60 * 1000;

// Issued at issuedMs; the first form issues it now (the framework clock), so
// the same block gets the same token at the same time.
std::string BlockToken(const std::string& snapshotId, int64_t blockIndex);
std::string BlockToken(const std::string& snapshotId, int64_t blockIndex, int64_t issuedMs);
// When token was issued for that block of that snapshot; -1 when it is not
// one of that block's tokens.
int64_t BlockTokenIssuedMs(const std::string& token, const std::string& snapshotId, int64_t blockIndex);

// Where a listing goes on: the next block index to look at, and how many
// pages in a row have stopped there (so that a page shape drawn from the
// position cannot stall a listing).
struct PagePosition {
    int64_t next = 0;
    int stalls = 0;
    int64_t issuedMs = 0;
};
// listing names what is listed (a snapshot, or a pair of them).
std::string PageToken(const std::string& listing, const PagePosition& at);
// False when token is not one of listing's page tokens.
bool ParsePageToken(const std::string& token, const std::string& listing, PagePosition& at);

}  // namespace cloudsim
