#pragma once
// S3 buckets and objects: the records, their JSON and the AWS text for a
// bucket the caller cannot reach.
#include <cstdint>
#include <string>

#include "cloudsim/Schema.h"

namespace cloudsim {

struct State;

struct Bucket {
    std::string name;
    std::string account;
    std::string region;
};

struct S3Object {
    std::string bucket;
    std::string key;
    int64_t size = 0;
};

const schema::Table<Bucket>& BucketTable();
const schema::Table<S3Object>& S3ObjectTable();
// Buckets lie in known accounts and regions; objects in known buckets.
void CheckS3(const State& s);

// ---- AWS error texts ----
std::string BucketNotFound();

}  // namespace cloudsim
