#pragma once
// KMS keys: the record, its JSON, the default EBS key AWS encrypts with,
// how a key is named (id, ARN, alias) and who may use it.
#include <string>
#include <vector>

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
    // Enabled, Disabled, PendingDeletion, PendingImport, PendingReplicaDeletion,
    // Unavailable, Creating, Updating (KMS's KeyState).
    std::string state = "Enabled";
    std::string description;
    // Other accounts the key policy lets use the key.
    std::vector<std::string> allowedAccounts;
    // The grantee principal of each grant on the key ("arn:aws:iam::<account>:root"),
    // one entry per grant: KMS makes a new grant for every CreateGrant.
    std::vector<std::string> grantees;

    // An AWS managed key ("alias/aws/..."): usable only by its own account.
    bool AwsManaged() const { return alias.compare(0, 10, "alias/aws/") == 0; }
};

const schema::Table<KmsKey>& KmsKeyTable();
void CheckKmsKeys(const State& s);

// The account's default EBS key in region (its ARN); the AWS-managed alias
// when the state holds none.
std::string DefaultKmsKey(const State& s, const std::string& account, const std::string& region);

// The key named by id, key ARN, "alias/<name>" or alias ARN in region, as
// account sees it: its own keys, and another account's (by ARN only) when
// that key's policy or a grant lets account use it. Null when none is.
const KmsKey* FindKmsKey(const State& s, const std::string& account, const std::string& region,
                         const std::string& name);
// The key names an AWS managed key (the account's "alias/aws/ebs", or the
// default key's alias ARN the state does not hold).
bool IsAwsManagedKey(const State& s, const std::string& account, const std::string& region,
                     const std::string& name);
// account may encrypt and decrypt with the key name (EBS's checks when a
// volume is created): the key exists for it and is Enabled. false with the
// AWS text otherwise.
bool CheckKeyUsable(const State& s, const std::string& account, const std::string& region, const std::string& name,
                    std::string& error);
// KMS's quota of grants on one key.
constexpr size_t kGrantsPerKey = 50000;

// CreateKey and CreateAlias: a customer managed key of account in region
// under "alias/<name>"; its ARN in arn. An alias in use fails as KMS does.
bool CreateKmsKey(State& s, const std::string& account, const std::string& region, const std::string& name,
                  std::string& arn, std::string& error);
// CreateGrant: principal may use the account's own customer managed key;
// refused for AWS managed keys and once the key holds kGrantsPerKey grants.
bool CreateKmsGrant(State& s, const std::string& account, const std::string& region, const std::string& keyId,
                    const std::string& principal, std::string& error);
// The account of an IAM principal ARN ("arn:<partition>:iam::<account>:root"); empty when it is none.
std::string PrincipalAccount(const std::string& principal);

// The key is the account's default EBS key in region: the AWS managed one
// by any of its names, or the key the account set as default.
bool IsDefaultEbsKey(const State& s, const std::string& account, const std::string& region, const std::string& name);
// DescribeKey of the key name as account sees it in region; the AWS managed
// EBS key exists for every account, held in the state or not. notFound (and
// true) when there is no such key; false with KMS's text for an empty name.
struct KeyDescription {
    std::string arn;
    std::string state;
    std::string description;
};
bool DescribeKmsKey(const State& s, const std::string& account, const std::string& region, const std::string& name,
                    KeyDescription& out, bool& notFound, std::string& error);
// ListGrants of the account's own key: one grantee principal per grant.
bool ListKmsGrantees(const State& s, const std::string& account, const std::string& region, const std::string& name,
                     std::vector<std::string>& principals, std::string& error);

// KMS's text for a key not found: "NotFoundException: Key '<arn>' does not exist".
std::string KmsKeyNotFound(const std::string& name);

}  // namespace cloudsim
