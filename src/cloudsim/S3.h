#pragma once
// S3 buckets and objects: the records, their JSON and the AWS text for a
// bucket the caller cannot reach.
#include <cstdint>
#include <string>
#include <vector>

#include "cloudsim/Schema.h"

namespace cloudsim {

struct State;

struct Bucket {
    std::string name;
    std::string account;
    std::string region;
    // Canonical ids of other accounts granted full control (ShareBucket).
    std::vector<std::string> grants;
};

struct S3Object {
    std::string bucket;
    std::string key;
    int64_t size = 0;
    std::string data;                    // the object's bytes (base64 in JSON)
};

const schema::Table<Bucket>& BucketTable();
const schema::Table<S3Object>& S3ObjectTable();
// Buckets lie in known accounts and regions; objects in known buckets.
void CheckS3(const State& s);

// Whether account may read and write the bucket's objects: it owns the
// bucket or the owner granted the account's canonical id.
bool CanUseBucket(const State& s, const Bucket& b, const std::string& account);
// Stores (replaces) an object; the bucket must exist.
void PutObject(State& s, const std::string& bucket, const std::string& key, const std::string& data);
// The object, or null.
const S3Object* FindObject(const State& s, const std::string& bucket, const std::string& key);

// ---- requests on buckets, as S3 answers them ----
// The bucket account may use by name (names are global: another account's
// bucket exists but is not the caller's unless granted). Null with S3's
// text otherwise.
const Bucket* UsableBucket(const State& s, const std::string& name, const std::string& account, std::string& error);
// CreateBucket: a free name of 3 to 63 characters (lower-case letters,
// digits, "-" and ".") for account in region.
bool CreateBucket(State& s, const std::string& name, const std::string& account, const std::string& region,
                  std::string& error);
// PutBucketAcl full control for the account of canonicalId; only the owner
// may grant, and only a known canonical id.
bool GrantBucket(State& s, const std::string& name, const std::string& account, const std::string& canonicalId,
                 std::string& error);
// PutObject by account: a key of 1 to 1024 characters, into a bucket it may use.
bool UploadObject(State& s, const std::string& bucket, const std::string& account, const std::string& key,
                  const std::string& data, std::string& error);

// ---- AWS error texts ----
std::string BucketNotFound();
std::string AccessDenied();
std::string NoSuchKey();

}  // namespace cloudsim
