// The wire backend's KMS keys (JSON 1.1, "TrentService"): describing them,
// making a customer managed key under an alias, its grants, the account's
// EBS keys, and whether a key or a volume's key is the default EBS key.
#include "bridge/wire/WireBackend.h"
#include "bridge/wire/WireEc2Records.h"

using namespace bridgeimpl;
using namespace bridgeimpl::wire;

namespace {

const char kManagedEbsAlias[] = "alias/aws/ebs";
// AWS's shortest pending-deletion window, for a key whose alias was refused.
constexpr int kShortestDeletionDays = 7;
// What the grantee of a snapshot's key does with it: read the snapshot, copy
// it under a key of its own, and grant its EBS the same.
const char* const kGrantOperations[] = {"Decrypt", "Encrypt", "ReEncryptFrom", "ReEncryptTo", "GenerateDataKey",
                                        "GenerateDataKeyWithoutPlaintext", "DescribeKey", "CreateGrant"};

std::string Text(const nlohmann::json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// The partition of the caller's ARN ("arn:aws-cn:sts::..." -> "aws-cn").
std::string PartitionOf(const std::string& arn) {
    const size_t end = arn.find(':', 4);
    return arn.rfind("arn:", 0) == 0 && end != std::string::npos ? arn.substr(4, end - 4) : "aws";
}

}  // namespace

bool WireBackend::Kms(const std::string& op, const nlohmann::json& input, nlohmann::json& out, std::string& error,
                      const std::string& region) {
    return m_client.CallJson("kms", "TrentService", RegionFor(region), op, input, out, error);
}

bool WireBackend::KmsKey(const std::string& region, const std::string& keyId, nlohmann::json& metadata,
                         bool& notFound, std::string& error) {
    notFound = false;
    nlohmann::json out;
    if (Kms("DescribeKey", {{"KeyId", keyId}}, out, error, region)) {
        metadata = out.value("KeyMetadata", nlohmann::json::object());
        return true;
    }
    if (error.rfind("NotFoundException:", 0) != 0) return false;
    notFound = true;
    return true;
}

bool WireBackend::DescribeEncryptionKey(const std::string& region, const std::string& keyId, std::string& keyArn,
                                        bool& notFound, std::string& keyState, std::string* description) {
    notFound = false;
    return Run("DescribeEncryptionKey", true, [&](std::string& error) {
        if (keyId.empty()) {
            error = "ValidationException: KeyId must not be empty";
            return false;
        }
        nlohmann::json key;
        if (!KmsKey(region, keyId, key, notFound, error)) return false;
        if (notFound) return true;
        keyArn = Text(key, "Arn");
        keyState = Text(key, "KeyState");
        if (description) *description = Text(key, "Description");
        return true;
    });
}

bool WireBackend::CreateEncryptionKey(const std::string& region, const std::string& name, std::string& keyArn) {
    return Run("CreateEncryptionKey", true, [&](std::string& error) {
        if (name.empty()) {
            error = "ValidationException: Alias must not be empty";
            return false;
        }
        const std::string alias = "alias/" + name;
        // An alias in use would be refused only after the key was made.
        nlohmann::json existing;
        bool notFound = false;
        if (!KmsKey(region, alias, existing, notFound, error)) return false;
        if (!notFound) {
            error = "AlreadyExistsException: An alias with the name arn:aws:kms:" + RegionFor(region) + ":" +
                    m_accountId + ":" + alias + " already exists";
            return false;
        }
        nlohmann::json made;
        if (!Kms("CreateKey", {{"Description", name}, {"KeyUsage", "ENCRYPT_DECRYPT"}, {"KeySpec", "SYMMETRIC_DEFAULT"}},
                 made, error, region))
            return false;
        const nlohmann::json key = made.value("KeyMetadata", nlohmann::json::object());
        nlohmann::json unused;
        if (!Kms("CreateAlias", {{"AliasName", alias}, {"TargetKeyId", Text(key, "KeyId")}}, unused, error, region)) {
            // A key nobody can name is only a cost: it goes, and the alias's refusal is the answer.
            std::string ignored;
            Kms("ScheduleKeyDeletion", {{"KeyId", Text(key, "KeyId")}, {"PendingWindowInDays", kShortestDeletionDays}},
                unused, ignored, region);
            return false;
        }
        keyArn = Text(key, "Arn");
        return true;
    });
}

bool WireBackend::CreateEncryptionKeyGrant(const std::string& region, const std::string& keyArn,
                                           const std::string& principal) {
    return Run("CreateEncryptionKeyGrant", true, [&](std::string& error) {
        nlohmann::json operations = nlohmann::json::array();
        for (const char* op : kGrantOperations) operations.push_back(op);
        nlohmann::json out;
        return Kms("CreateGrant", {{"KeyId", keyArn}, {"GranteePrincipal", principal}, {"Operations", operations}},
                   out, error, region);
    });
}

bool WireBackend::ListEncryptionKeyGrantees(const std::string& region, const std::string& keyArn,
                                            std::vector<std::string>& principals) {
    return Run("ListEncryptionKeyGrantees", true, [&](std::string& error) {
        std::vector<std::string> found;
        auto onPage = [&](const nlohmann::json& page, std::string&) {
            for (const auto& grant : page.value("Grants", nlohmann::json::array()))
                found.push_back(Text(grant, "GranteePrincipal"));
            return true;
        };
        if (!m_client.CallJsonAllPages("kms", "TrentService", RegionFor(region), "ListGrants",
                                       {{"KeyId", keyArn}, {"Limit", m_pageSize}}, "Marker", "NextMarker", onPage,
                                       error))
            return false;
        principals = found;
        return true;
    });
}

bool WireBackend::IsDefaultKey(const std::string& region, const std::string& keyId, bool& isDefault,
                               std::string& error) {
    isDefault = false;
    if (keyId == kManagedEbsAlias) return isDefault = true;
    nlohmann::json key, managed;
    bool notFound = false;
    if (!KmsKey(region, keyId, key, notFound, error)) return false;
    if (notFound) return true;
    if (!KmsKey(region, kManagedEbsAlias, managed, notFound, error)) return false;
    isDefault = !notFound && Text(key, "KeyId") == Text(managed, "KeyId");
    return true;
}

bool WireBackend::IsDefaultEncryptKey(const std::string& keyId, const std::string& region) {
    bool isDefault = false;
    Run("IsDefaultEncryptKey", true, [&](std::string& error) { return IsDefaultKey(region, keyId, isDefault, error); });
    return isDefault;
}

bool WireBackend::IsVolumeDefaultEncrypted(const std::string& volumeId, const std::string& region) {
    bool isDefault = false;
    Run("IsVolumeDefaultEncrypted", true, [&](std::string& error) {
        Ec2Volume volume;
        if (!DescribeVolume(volumeId, region, volume, error)) return false;
        if (!volume.encrypted) return true;
        if (volume.kmsKeyId.empty()) return isDefault = true;
        return IsDefaultKey(region, volume.kmsKeyId, isDefault, error);
    });
    return isDefault;
}

bool WireBackend::GetVolumeEncryptionKeyList(const std::string& region,
                                             std::vector<VMInfoStructs::SVolumeEncryptionKeyInfo>& keys) {
    return Run("GetVolumeEncryptionKeyList", true, [&](std::string& error) {
        const std::string where = RegionFor(region);
        const std::string partition = PartitionOf(m_arn);
        std::vector<VMInfoStructs::SVolumeEncryptionKeyInfo> found;
        bool haveDefault = false;
        auto onPage = [&](const nlohmann::json& page, std::string&) {
            for (const auto& alias : page.value("Aliases", nlohmann::json::array())) {
                const std::string name = Text(alias, "AliasName");
                const std::string target = Text(alias, "TargetKeyId");
                const bool managed = name.rfind("alias/aws/", 0) == 0;
                // AWS lists a managed alias before its key is first used, without a target.
                if (target.empty() || (managed && name != kManagedEbsAlias)) continue;
                VMInfoStructs::SVolumeEncryptionKeyInfo key;
                key.name = name;
                key.id = target;
                key.arn = "arn:" + partition + ":kms:" + where + ":" + m_accountId + ":key/" + target;
                key.isDefault = managed;
                haveDefault |= managed;
                found.push_back(key);
            }
            return true;
        };
        if (!m_client.CallJsonAllPages("kms", "TrentService", where, "ListAliases", {{"Limit", m_pageSize}}, "Marker",
                                       "NextMarker", onPage, error))
            return false;
        if (!haveDefault) {
            VMInfoStructs::SVolumeEncryptionKeyInfo key;
            key.name = key.id = kManagedEbsAlias;
            key.arn = "arn:" + partition + ":kms:" + where + ":" + m_accountId + ":" + kManagedEbsAlias;
            key.isDefault = true;
            found.insert(found.begin(), key);
        }
        keys = found;
        return true;
    });
}
