#pragma once
// Checking a block that the service says is all zeros. Most blocks of a
// large volume are: the guest wrote zeros, and EBS still lists and serves
// them in full, with the checksum of 512 KiB of zeros. Comparing that
// checksum and scanning the bytes for zeros (FwBytes::IsAllZero) gives the
// verdict a SHA-256 of the bytes would, for a fraction of its cost.
// Thread-safe (no state but a constant computed on first use).
#include <cstddef>
#include <string>

namespace AmazonDirectSnapshotAccessAPI {

// Bytes in an EBS snapshot block (ListSnapshotBlocks' BlockSize).
constexpr size_t kEbsBlockBytes = 512 * 1024;

// Base64 of the SHA-256 of kEbsBlockBytes zero bytes, as x-amz-Checksum
// carries it.
const std::string& ZeroBlockChecksum();

}  // namespace AmazonDirectSnapshotAccessAPI
