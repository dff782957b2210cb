// KMS keys: JSON, checks and the default EBS key.
#include "cloudsim/Kms.h"

#include <algorithm>

#include "cloudsim/CloudState.h"

namespace cloudsim {

using namespace schema;

const Table<KmsKey>& KmsKeyTable() {
    using K = KmsKey;
    static const Table<K> table{
        {Required("id", &K::id), Member("account", &K::account), Member("region", &K::region),
         Member("alias", &K::alias), Member("arn", &K::arn), Member("isDefault", &K::isDefault),
         Member("state", &K::state), IfSet("description", &K::description),
         IfSet("allowedAccounts", &K::allowedAccounts), IfSet("grantees", &K::grantees)},
        [](K& k, const Fields& in) {
            if (k.arn.empty()) k.arn = "arn:aws:kms:" + k.region + ":" + k.account + ":key/" + k.id;
            static const char* const kStates[] = {"Enabled",  "Disabled",    "PendingDeletion",
                                                  "PendingImport", "PendingReplicaDeletion", "Unavailable",
                                                  "Creating", "Updating"};
            bool known = false;
            for (const char* st : kStates) known |= k.state == st;
            if (!known) Fail(in.Where("state"), "unknown key state '" + k.state + "'");
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

namespace {

// "arn:aws:kms:<region>:<account>:alias/<name>" -> account and "alias/<name>".
bool SplitAliasArn(const std::string& name, std::string& region, std::string& account, std::string& alias) {
    if (name.compare(0, 12, "arn:aws:kms:") != 0) return false;
    size_t r = name.find(':', 12), a = r == std::string::npos ? r : name.find(':', r + 1);
    if (a == std::string::npos || name.compare(a + 1, 6, "alias/") != 0) return false;
    region = name.substr(12, r - 12);
    account = name.substr(r + 1, a - r - 1);
    alias = name.substr(a + 1);
    return true;
}

bool UsableByOther(const KmsKey& k, const std::string& account) {
    if (std::find(k.allowedAccounts.begin(), k.allowedAccounts.end(), account) != k.allowedAccounts.end()) return true;
    return std::any_of(k.grantees.begin(), k.grantees.end(),
                       [&](const std::string& p) { return PrincipalAccount(p) == account; });
}

// Key ids are GUIDs; two of the state's ids give the digits.
std::string NewKeyId(State& s) {
    std::string hex = s.NewId("k").substr(3) + s.NewId("k").substr(3);
    hex[12] = '4';
    hex[16] = '8';
    return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) + "-" +
           hex.substr(20, 12);
}

}  // namespace

std::string PrincipalAccount(const std::string& principal) {
    // arn:<partition>:iam::<12 digits>:root
    if (principal.compare(0, 4, "arn:") != 0) return "";
    const size_t iam = principal.find(":iam::");
    if (iam == std::string::npos) return "";
    const size_t end = principal.find(':', iam + 6);
    if (end == std::string::npos || end - (iam + 6) != 12) return "";
    return principal.substr(iam + 6, 12);
}

bool CreateKmsKey(State& s, const std::string& account, const std::string& region, const std::string& name,
                  std::string& arn, std::string& error) {
    const std::string alias = "alias/" + name;
    if (name.empty() || name.compare(0, 4, "aws/") == 0) {
        error = "NotAuthorizedException: Alias names starting with 'alias/aws/' are reserved for AWS managed keys";
        if (name.empty()) error = "ValidationException: Alias must not be empty";
        return false;
    }
    for (const auto& k : s.kmsKeys)
        if (k.account == account && k.region == region && k.alias == alias) {
            error = "AlreadyExistsException: An alias with the name arn:aws:kms:" + region + ":" + account + ":" +
                    alias + " already exists";
            return false;
        }
    KmsKey k;
    k.id = NewKeyId(s);
    k.account = account;
    k.region = region;
    k.alias = alias;
    k.arn = arn = "arn:aws:kms:" + region + ":" + account + ":key/" + k.id;
    s.kmsKeys.push_back(k);
    return true;
}

bool CreateKmsGrant(State& s, const std::string& account, const std::string& region, const std::string& keyId,
                    const std::string& principal, std::string& error) {
    if (PrincipalAccount(principal).empty()) {
        error = "MalformedPolicyDocumentException: Invalid principal: " + principal;
        return false;
    }
    const KmsKey* found = FindKmsKey(s, account, region, keyId);
    // Another account's key takes grants only from its own account here.
    if (!found || found->account != account) {
        error = KmsKeyNotFound(keyId);
        return false;
    }
    KmsKey& k = *std::find_if(s.kmsKeys.begin(), s.kmsKeys.end(), [&](const KmsKey& x) { return &x == found; });
    if (k.AwsManaged()) {
        error = "AccessDeniedException: You cannot create grants on the AWS managed key " + k.arn;
        return false;
    }
    if (k.state != "Enabled" && k.state != "Disabled") {
        error = "KMSInvalidStateException: " + k.arn + " is " + k.state;
        return false;
    }
    if (k.grantees.size() >= kGrantsPerKey) {
        error = "LimitExceededException: The grant quota of " + std::to_string(kGrantsPerKey) + " for " + k.arn +
                " has been reached";
        return false;
    }
    k.grantees.push_back(principal);
    return true;
}

const KmsKey* FindKmsKey(const State& s, const std::string& account, const std::string& region,
                         const std::string& name) {
    if (name.empty()) return nullptr;
    std::string aliasRegion = region, aliasAccount = account, alias;
    bool aliasArn = SplitAliasArn(name, aliasRegion, aliasAccount, alias);
    if (!aliasArn && name.compare(0, 6, "alias/") == 0) alias = name;
    for (const auto& k : s.kmsKeys) {
        bool named = alias.empty() ? (k.id == name || k.arn == name) : k.alias == alias;
        if (!named || k.region != (aliasArn ? aliasRegion : region)) continue;
        if (aliasArn && k.account != aliasAccount) continue;
        if (k.account == account) return &k;
        // Another account's key is named by its ARN, and used only when shared.
        bool byArn = k.arn == name || aliasArn;
        bool shared = !k.AwsManaged() && UsableByOther(k, account);
        if (byArn && shared) return &k;
    }
    return nullptr;
}

bool IsAwsManagedKey(const State& s, const std::string& account, const std::string& region, const std::string& name) {
    if (name == "alias/aws/ebs" || name == "arn:aws:kms:" + region + ":" + account + ":alias/aws/ebs") return true;
    const KmsKey* k = FindKmsKey(s, account, region, name);
    return k && k->AwsManaged();
}

bool CheckKeyUsable(const State& s, const std::string& account, const std::string& region, const std::string& name,
                    std::string& error) {
    if (IsAwsManagedKey(s, account, region, name) && !FindKmsKey(s, account, region, name)) return true;
    const KmsKey* k = FindKmsKey(s, account, region, name);
    if (!k) {
        error = "InvalidParameterValue: Invalid KMS key: " + KmsKeyNotFound(name);
        return false;
    }
    if (k->state != "Enabled") {
        error = "KMSKeyNotAccessibleFault: The KMS key " + k->arn + " is not usable: it is in state " + k->state;
        return false;
    }
    return true;
}

bool IsDefaultEbsKey(const State& s, const std::string& account, const std::string& region, const std::string& name) {
    return IsAwsManagedKey(s, account, region, name) || name == DefaultKmsKey(s, account, region);
}

bool DescribeKmsKey(const State& s, const std::string& account, const std::string& region, const std::string& name,
                    KeyDescription& out, bool& notFound, std::string& error) {
    notFound = false;
    if (name.empty()) {
        error = "ValidationException: KeyId must not be empty";
        return false;
    }
    if (const KmsKey* k = FindKmsKey(s, account, region, name)) {
        out = {k->arn, k->state, k->description};
        return true;
    }
    if (IsAwsManagedKey(s, account, region, name)) {
        out = {DefaultKmsKey(s, account, region), "Enabled",
               "Default key that protects my EBS volumes when no other key is defined"};
        return true;
    }
    notFound = true;
    return true;
}

bool ListKmsGrantees(const State& s, const std::string& account, const std::string& region, const std::string& name,
                     std::vector<std::string>& principals, std::string& error) {
    const KmsKey* k = FindKmsKey(s, account, region, name);
    if (!k || k->account != account) {
        error = KmsKeyNotFound(name);
        return false;
    }
    principals = k->grantees;
    return true;
}

std::string KmsKeyNotFound(const std::string& name) { return "NotFoundException: Key '" + name + "' does not exist"; }

}  // namespace cloudsim
