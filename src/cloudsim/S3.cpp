// S3 buckets and objects: JSON, checks and error texts.
#include "cloudsim/S3.h"

#include "cloudsim/CloudState.h"

namespace cloudsim {

using namespace schema;

const Table<Bucket>& BucketTable() {
    static const Table<Bucket> table{
        {Required("name", &Bucket::name), Member("account", &Bucket::account), Member("region", &Bucket::region)}};
    return table;
}

const Table<S3Object>& S3ObjectTable() {
    using O = S3Object;
    static const Table<O> table{{Required("bucket", &O::bucket), Required("key", &O::key), Member("size", &O::size)}};
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

std::string BucketNotFound() { return "NoSuchBucket: The specified bucket does not exist"; }

}  // namespace cloudsim
