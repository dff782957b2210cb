#pragma once
// KMS keys: the record, its JSON and the default EBS key AWS encrypts with.
#include <string>

#include "cloudsim/Schema.h"

namespace cloudsim {

struct State;

struct KmsKey {
    std::string id;                      // key id (a GUID)
    std::string account;
    std::string region;
    std::string alias;                   // "alias/aws/ebs"
    std::string arn;                     // seeds may leave it out: derived from region, account and id
    bool isDefault = false;              // the account's default EBS key in the region
};

const schema::Table<KmsKey>& KmsKeyTable();
void CheckKmsKeys(const State& s);

// The account's default EBS key in region (its ARN); the AWS-managed alias
// when the state holds none.
std::string DefaultKmsKey(const State& s, const std::string& account, const std::string& region);

}  // namespace cloudsim
