#pragma once
// The "cloud" mode of datapath-bench: time per bridge call against a folder
// cloud holding a volume of 1,000 and of 1,000,000 allocated blocks.
namespace bench {

// Prints the table and the target line; throws std::runtime_error when the
// rig cannot be set up or a call fails.
void RunCloudCalls(bool quick);

}  // namespace bench
