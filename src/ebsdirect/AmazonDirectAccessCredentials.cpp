// Where the direct client's credentials come from and how connections get
// fresh ones when the service calls theirs expired.
#include <mutex>

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/trim.hpp>
#include <nlohmann/json.hpp>

#include "bridge/AmazonSDKBridge.h"
#include "ebsdirect/AmazonDirectSnapshotAccessAPIWrapper.h"
#include "framework/Clock.h"
#include "framework/EvDebug.h"

namespace AmazonDirectSnapshotAccessAPI {

namespace {
const char* const kTag = "CAmazonDirectSnapshotAccessAPIWrapper";
const char* const kStaticTag = "CAmazonDirectSnapshotAccessAPIWrapper::static";
const char* const kRolePath = "/latest/meta-data/iam/security-credentials/";
const char* const kTokenPath = "/latest/api/token";
const char* const kTokenTtlHeader = "X-aws-ec2-metadata-token-ttl-seconds: 21600";
const char* const kTokenHeader = "X-aws-ec2-metadata-token: ";

bool IsRoleArn(const std::string& text) {
    for (const char* prefix : {"arn:aws:iam", "arn:aws-cn:iam", "arn:aws-us-gov:iam"})
        if (text.find(prefix) != std::string::npos) return true;
    return false;
}

std::string TrimSpace(const std::string& text) {
    return boost::algorithm::trim_copy_if(text, boost::algorithm::is_any_of(" \t\r\n"));
}

// A metadata GET, with the IMDSv2 session token when there is one.
bool MetadataGet(const std::string& url, const std::string& token, std::string& response) {
    std::vector<std::string> headers;
    if (!token.empty()) headers.push_back(kTokenHeader + token);
    return CAmazonRESTAPIConnection::SimpleHttpRequest(HTTP_GET, url, headers, std::string(), response) &&
           !response.empty();
}
}  // namespace

bool CAmazonDirectSnapshotAccessAPIWrapper::initializeCredentials(const std::string& keyOrRoleArn,
                                                                  const std::string& secretKey) {
    std::lock_guard<std::mutex> lock(m_credentialsLock);
    m_credentialType = AWSCredentialInvalid;
    m_roleArn.clear();
    m_credentials = AWSCredentials{};
    if (keyOrRoleArn.empty() && secretKey.empty()) {
        EvDebug::Debug(kTag, "IAM role authentication.");
        m_credentialType = AWSCredentialIAMRole;
        m_credentials = getIAMRoleSessionCredentials();
        return !m_credentials.sessionToken.empty();
    }
    if (IsRoleArn(keyOrRoleArn)) {
        EvDebug::Debug(kTag, "Assume role authentication. Role: [%s]", keyOrRoleArn.c_str());
        m_credentialType = AWSCredentialAssumeRole;
        m_roleArn = keyOrRoleArn;
        m_credentials = getAssumeRoleSessionCredentials(m_roleArn);
        return !m_credentials.sessionToken.empty();
    }
    if (!keyOrRoleArn.empty() && !secretKey.empty()) {
        EvDebug::Debug(kTag, "Access key authentication. AccessKeyID: [%s]", keyOrRoleArn.c_str());
        m_credentialType = AWSCredentialAccessKey;
        m_credentials = AWSCredentials{keyOrRoleArn, secretKey, std::string(), 0};
        return true;
    }
    EvDebug::Error(kTag, "Invalid credentials");
    return false;
}

AWSCredentials CAmazonDirectSnapshotAccessAPIWrapper::getCredentialsCopy() {
    std::lock_guard<std::mutex> lock(m_credentialsLock);
    return m_credentials;
}

bool CAmazonDirectSnapshotAccessAPIWrapper::refreshCredentialsCallBack(void* owner, AWSCredentials& credentials) {
    if (!owner) {
        EvDebug::Error(kStaticTag, "Wrapper ptr is NULL");
        return false;
    }
    if (!static_cast<CAmazonDirectSnapshotAccessAPIWrapper*>(owner)->refreshCredentials(credentials)) {
        EvDebug::Error(kStaticTag, "Failed to refresh credentials");
        return false;
    }
    return true;
}

bool CAmazonDirectSnapshotAccessAPIWrapper::refreshCredentials(AWSCredentials& credentials) {
    std::lock_guard<std::mutex> lock(m_credentialsLock);
    if (m_credentials.issueTime > credentials.issueTime) {
        EvDebug::DebugLvl(kTag, 2, "Providing already updated credentials");
        credentials = m_credentials;
        return true;
    }
    AWSCredentials fresh;
    switch (m_credentialType) {
        case AWSCredentialIAMRole: fresh = getIAMRoleSessionCredentials(); break;
        case AWSCredentialAssumeRole: fresh = getAssumeRoleSessionCredentials(m_roleArn); break;
        default:
            EvDebug::Error(kTag, "Invalid credential type for refresh: [%d]", static_cast<int>(m_credentialType));
            return false;
    }
    if (fresh.sessionToken.empty()) return false;
    // Two fetches within one second would share an issue time and a later
    // refresh could not tell them apart; keep the generation strictly rising.
    if (fresh.issueTime <= m_credentials.issueTime) fresh.issueTime = m_credentials.issueTime + 1;
    m_credentials = fresh;
    credentials = fresh;
    return true;
}

AWSCredentials CAmazonDirectSnapshotAccessAPIWrapper::getAssumeRoleSessionCredentials(const std::string& roleArn) {
    if (roleArn.empty()) {
        EvDebug::Error(kTag, "Role ARN is empty");
        return AWSCredentials{};
    }
    AWSCredentials c;
    bool assumed = false;
    {
        std::lock_guard<std::mutex> lock(m_bridgeLock);
        assumed = m_bridge &&
                  m_bridge->GenerateAssumeRoleSessionCredentials(roleArn, c.accessKeyId, c.secretAccessKey,
                                                                 c.sessionToken);
    }
    if (!assumed) {
        EvDebug::Error(kTag, "Failed to assume role: [%s]", roleArn.c_str());
        return AWSCredentials{};
    }
    EvDebug::Debug(kTag, "Assume role session access key ID: [%s]", c.accessKeyId.c_str());
    c.issueTime = FwClock::NowSec();
    return c;
}

AWSCredentials CAmazonDirectSnapshotAccessAPIWrapper::getIAMRoleSessionCredentials() {
    std::string json;
    if (!getIAMSessionJson(json)) return AWSCredentials{};
    return parseIAMSessionJson(json);
}

bool CAmazonDirectSnapshotAccessAPIWrapper::getIAMSessionJson(std::string& json) {
    json.clear();
    // IMDSv2 first: a session token makes the role's keys unreachable to a
    // forged request relayed through the proxy. Only a metadata service that
    // refuses tokens is asked without one.
    std::string token;
    std::string base = kMetadataBaseUrl;
    if (!CAmazonRESTAPIConnection::SimpleHttpRequest(HTTP_PUT, base + kTokenPath, {kTokenTtlHeader}, std::string(),
                                                     token) ||
        TrimSpace(token).empty()) {
        EvDebug::Debug(kStaticTag, "Instance metadata session token not available; using IMDSv1");
        token.clear();
    }
    token = TrimSpace(token);
    const std::string roleUrl = base + kRolePath;
    std::string role;
    if (!MetadataGet(roleUrl, token, role) || TrimSpace(role).empty()) {
        EvDebug::Error(kStaticTag, "Failed to get IAM role from url [%s]", roleUrl.c_str());
        return false;
    }
    const std::string sessionUrl = roleUrl + TrimSpace(role);
    if (!MetadataGet(sessionUrl, token, json)) {
        EvDebug::Error(kStaticTag, "Failed to get IAM session from url [%s]", sessionUrl.c_str());
        json.clear();
        return false;
    }
    return true;
}

AWSCredentials CAmazonDirectSnapshotAccessAPIWrapper::parseIAMSessionJson(const std::string& json) {
    nlohmann::json doc = nlohmann::json::parse(json, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) {
        EvDebug::Error(kStaticTag, "Failed to unserialize IAM session JSON");
        return AWSCredentials{};
    }
    auto text = [&](const char* name) {
        auto it = doc.find(name);
        return it != doc.end() && it->is_string() ? it->get<std::string>() : std::string();
    };
    AWSCredentials c{text("AccessKeyId"), text("SecretAccessKey"), text("Token"), 0};
    if (c.accessKeyId.empty() || c.secretAccessKey.empty() || c.sessionToken.empty()) {
        EvDebug::Error(kStaticTag, "Invalid IAM session JSON");
        return AWSCredentials{};
    }
    EvDebug::Debug(kStaticTag, "IAM role session access key ID: [%s]", c.accessKeyId.c_str());
    c.issueTime = FwClock::NowSec();
    return c;
}

}  // namespace AmazonDirectSnapshotAccessAPI
