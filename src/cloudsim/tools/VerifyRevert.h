#pragma once
// cloudsim-tool verify-revert: whether the instance's volumes made from a
// snap job's snapshots hold exactly the snapshots' data.
#include <cstdint>
#include <string>

// Prints each volume of the instance and how it compares; 0 when at least
// one volume came from the job's snapshots and every such one matches, 1
// otherwise, 2 when the cloud or the job cannot be read.
int VerifyRevert(const std::string& base, const std::string& instance, int64_t snapJob);
