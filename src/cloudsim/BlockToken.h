#pragma once
// The token the EBS direct APIs hand out for one block of a snapshot: unpadded
// base64 (with "+" and "/") of bytes derived from the snapshot and the block,
// so the same block always gets the same token and a token names its block.
#include <cstdint>
#include <string>

namespace cloudsim {

std::string BlockToken(const std::string& snapshotId, int64_t blockIndex);

}  // namespace cloudsim
