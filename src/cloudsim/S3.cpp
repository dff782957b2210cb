// S3 buckets and objects: JSON, checks and error texts.
#include "cloudsim/S3.h"

#include <algorithm>

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

std::string BucketNotFound() { return "NoSuchBucket: The specified bucket does not exist"; }
std::string AccessDenied() { return "AccessDenied: Access Denied"; }
std::string NoSuchKey() { return "NoSuchKey: The specified key does not exist."; }

}  // namespace cloudsim
