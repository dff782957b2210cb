// S3 buckets and objects: JSON, checks and error texts.
#include "cloudsim/S3.h"

#include <algorithm>
#include <cctype>

#include "cloudsim/CloudState.h"
#include "framework/Base64.h"

namespace cloudsim {

using namespace schema;

const Table<Bucket>& BucketTable() {
    static const Table<Bucket> table{
        {Required("name", &Bucket::name), Member("account", &Bucket::account), Member("region", &Bucket::region),
         IfSet("grants", &Bucket::grants)}};
    return table;
}

const Table<S3Object>& S3ObjectTable() {
    using O = S3Object;
    // Objects may hold any bytes, which JSON text cannot carry as they are.
    static const Table<O> table{{Required("bucket", &O::bucket), Required("key", &O::key), Member("size", &O::size),
                                 Custom<O>(
                                     "data",
                                     [](const Fields& in, O& o) {
                                         std::string text;
                                         in.Get("data", text);
                                         if (!text.empty() && !KdcBase64::Decode(text, o.data))
                                             Fail(in.Where("data"), "not base64");
                                     },
                                     [](const O& o, json& out) {
                                         if (o.data.empty()) return;
                                         std::string text;
                                         KdcBase64::Encode(o.data, text);
                                         out["data"] = text;
                                     })}};
    return table;
}

void CheckS3(const State& s) {
    for (const auto& [name, b] : s.buckets) {
        CheckAccountKnown(s, "bucket " + name, b.account);
        CheckRegionKnown(s, "bucket " + name, b.region);
    }
    for (const auto& o : s.objects)
        if (!s.buckets.count(o.bucket)) Fail("object " + o.key, "in unknown bucket '" + o.bucket + "'");
}

bool CanUseBucket(const State& s, const Bucket& b, const std::string& account) {
    if (b.account == account) return true;
    const Account* a = s.FindAccount(account);
    return a && std::find(b.grants.begin(), b.grants.end(), a->canonicalId) != b.grants.end();
}

void PutObject(State& s, const std::string& bucket, const std::string& key, const std::string& data) {
    for (auto& o : s.objects)
        if (o.bucket == bucket && o.key == key) {
            o.data = data;
            o.size = static_cast<int64_t>(data.size());
            return;
        }
    s.objects.push_back({bucket, key, static_cast<int64_t>(data.size()), data});
}

const S3Object* FindObject(const State& s, const std::string& bucket, const std::string& key) {
    for (const auto& o : s.objects)
        if (o.bucket == bucket && o.key == key) return &o;
    return nullptr;
}

const Bucket* UsableBucket(const State& s, const std::string& name, const std::string& account, std::string& error) {
    auto b = s.buckets.find(name);
    if (b == s.buckets.end()) {
        error = BucketNotFound();
        return nullptr;
    }
    if (!CanUseBucket(s, b->second, account)) {
        error = AccessDenied();
        return nullptr;
    }
    return &b->second;
}

bool CreateBucket(State& s, const std::string& name, const std::string& account, const std::string& region,
                  std::string& error) {
    auto b = s.buckets.find(name);
    if (b != s.buckets.end()) {
        error = b->second.account == account
                    ? "BucketAlreadyOwnedByYou: Your previous request to create the named bucket succeeded and you "
                      "already own it."
                    : "BucketAlreadyExists: The requested bucket name is not available. The bucket namespace is "
                      "shared by all users of the system. Please select a different name and try again.";
        return false;
    }
    const bool valid = name.size() >= 3 && name.size() <= 63 && std::all_of(name.begin(), name.end(), [](char c) {
        return std::islower(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)) ||
               c == '-' || c == '.';
    });
    if (!valid) {
        error = "InvalidBucketName: The specified bucket is not valid.";
        return false;
    }
    s.buckets[name] = {name, account, region, {}};
    return true;
}

bool GrantBucket(State& s, const std::string& name, const std::string& account, const std::string& canonicalId,
                 std::string& error) {
    auto b = s.buckets.find(name);
    if (b == s.buckets.end()) {
        error = BucketNotFound();
        return false;
    }
    if (b->second.account != account) {
        error = AccessDenied();
        return false;
    }
    if (std::none_of(s.accounts.begin(), s.accounts.end(),
                     [&](const Account& a) { return a.canonicalId == canonicalId; })) {
        error = "InvalidArgument: Invalid id";
        return false;
    }
    auto& grants = b->second.grants;
    if (std::find(grants.begin(), grants.end(), canonicalId) == grants.end()) grants.push_back(canonicalId);
    return true;
}

bool UploadObject(State& s, const std::string& bucket, const std::string& account, const std::string& key,
                  const std::string& data, std::string& error) {
    if (key.empty() || key.size() > 1024) {
        error = "KeyTooLongError: Your key is too long";
        return false;
    }
    if (!UsableBucket(s, bucket, account, error)) return false;
    PutObject(s, bucket, key, data);
    return true;
}

std::string BucketNotFound() { return "NoSuchBucket: The specified bucket does not exist"; }
std::string AccessDenied() { return "AccessDenied: Access Denied"; }
std::string NoSuchKey() { return "NoSuchKey: The specified key does not exist."; }

}  // namespace cloudsim
