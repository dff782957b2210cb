// KMS keys: JSON, checks and the default EBS key.
#include "cloudsim/Kms.h"

#include "cloudsim/CloudState.h"

namespace cloudsim {

using namespace schema;

const Table<KmsKey>& KmsKeyTable() {
    using K = KmsKey;
    static const Table<K> table{
        {Required("id", &K::id), Member("account", &K::account), Member("region", &K::region),
         Member("alias", &K::alias), Member("arn", &K::arn), Member("isDefault", &K::isDefault)},
        [](K& k, const Fields&) {
            if (k.arn.empty()) k.arn = "arn:aws:kms:" + k.region + ":" + k.account + ":key/" + k.id;
        }};
    return table;
}

void CheckKmsKeys(const State& s) {
    for (const auto& k : s.kmsKeys) {
        CheckAccountKnown(s, "kms key " + k.id, k.account);
        CheckRegionKnown(s, "kms key " + k.id, k.region);
    }
}

std::string DefaultKmsKey(const State& s, const std::string& account, const std::string& region) {
    for (const auto& k : s.kmsKeys)
        if (k.account == account && k.region == region && k.isDefault) return k.arn;
    return "arn:aws:kms:" + region + ":" + account + ":alias/aws/ebs";
}

}  // namespace cloudsim
