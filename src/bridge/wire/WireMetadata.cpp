// The wire backend's view of the machine it runs on: the proxy instance's
// id and region and its role's credentials from the instance metadata
// service, IMDSv2 first.
#include <nlohmann/json.hpp>

#include "bridge/wire/WireBackend.h"
#include "bridge/wire/WireEc2Records.h"
#include "framework/Clock.h"

using namespace bridgeimpl;
using namespace bridgeimpl::wire;

namespace {
const char kMetadataHost[] = "169.254.169.254";
// The SDKs' defaults: the service answers at once on an instance, and a
// machine outside EC2 must not stall a job for long on each question.
constexpr long kMetadataTimeoutMs = 2000;
constexpr long kMetadataConnectTimeoutMs = 1000;
// A role's credentials are fetched again this long before they expire.
constexpr int64_t kRenewAheadMs = 5 * 60 * 1000;
// While the keys still sign, a renewal that failed waits this long before
// the next try, so that a metadata service that is down does not cost every
// request (every block of a read) its time-outs.
constexpr int64_t kRenewRetryMs = 30 * 1000;
const char kRolePath[] = "/latest/meta-data/iam/security-credentials/";

HttpRequest MetadataRequest(const char* method, const std::string& path) {
    HttpRequest request;
    request.method = method;
    request.host = kMetadataHost;
    request.path = path;
    request.plainHttp = true;
    request.timeoutMs = kMetadataTimeoutMs;
    request.connectTimeoutMs = kMetadataConnectTimeoutMs;
    return request;
}

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}
}  // namespace

bool WireBackend::MetadataGet(const std::string& path, std::string& value, std::string& error) {
    // A session token keeps the answers out of reach of a request forged
    // through the proxy; a service that refuses tokens (403, or 404/405
    // where IMDSv2 is not offered) is asked without one, as the SDKs do.
    HttpRequest put = MetadataRequest("PUT", "/latest/api/token");
    put.headers.push_back("X-aws-ec2-metadata-token-ttl-seconds: 21600");
    const HttpResponse token = m_client.SendUnsigned(put);
    if (token.status == 400) {
        error = "InstanceMetadataError: the instance metadata service refused a session token request (HTTP 400)";
        return false;
    }
    HttpRequest get = MetadataRequest("GET", path);
    if (token.status == 200 && !Trimmed(token.body).empty())
        get.headers.push_back("X-aws-ec2-metadata-token: " + Trimmed(token.body));
    const HttpResponse answer = m_client.SendUnsigned(get);
    value = Trimmed(answer.body);
    if (answer.status == 200 && !value.empty()) return true;
    value.clear();
    error = answer.status == 0
                ? "InstanceMetadataUnavailable: the instance metadata service at " + std::string(kMetadataHost) +
                      " cannot be reached (" + answer.transportError + "); is this machine an EC2 instance?"
                : "InstanceMetadataError: " + path + " answered HTTP " + std::to_string(answer.status);
    return false;
}

bool WireBackend::GetLocalInstanceId(std::string& instanceId) {
    instanceId.clear();
    return Run("GetLocalInstanceId", false, [&](std::string& error) {
        return MetadataGet("/latest/meta-data/instance-id", instanceId, error);
    });
}

bool WireBackend::GetLocalInstanceRegion(std::string& region) {
    region.clear();
    return Run("GetLocalInstanceRegion", false, [&](std::string& error) {
        // The region itself, not the zone less its letter: a Local Zone's
        // name ("us-west-2-lax-1a") is no region with a letter appended.
        return MetadataGet("/latest/meta-data/placement/region", region, error);
    });
}

bool WireBackend::RoleCredentials(AmazonDirectSnapshotAccessAPI::AWSCredentials& credentials, std::string& error) {
    std::string roles;
    if (!MetadataGet(kRolePath, roles, error)) return false;
    const std::string role = roles.substr(0, roles.find('\n'));
    std::string text;
    if (!MetadataGet(kRolePath + role, text, error)) return false;
    const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    if (!json.is_object() || json.value("Code", std::string()) != "Success") {
        error = "InstanceMetadataError: the credentials of role " + role + " are not to be had (" +
                (json.is_object() ? json.value("Code", std::string("no code")) : std::string("not JSON")) + ")";
        return false;
    }
    AmazonDirectSnapshotAccessAPI::AWSCredentials found;
    found.accessKeyId = json.value("AccessKeyId", std::string());
    found.secretAccessKey = json.value("SecretAccessKey", std::string());
    found.sessionToken = json.value("Token", std::string());
    found.issueTime = FwClock::NowSec();
    const int64_t expires = ParseAwsTime(json.value("Expiration", std::string()));
    if (found.accessKeyId.empty() || found.secretAccessKey.empty() || expires < 0) {
        error = "InstanceMetadataError: the credentials of role " + role + " lack a key, secret or expiry";
        return false;
    }
    credentials = found;
    m_roleExpiryMs = expires * 1000;
    return true;
}

bool WireBackend::RenewRoleCredentials(std::string& error) {
    const int64_t now = FwClock::NowMs();
    if (m_roleExpiryMs == 0 || now < m_roleExpiryMs - kRenewAheadMs) return true;
    if (now < m_roleRetryAtMs && now < m_roleExpiryMs) return true;
    AmazonDirectSnapshotAccessAPI::AWSCredentials credentials;
    std::string why;
    if (RoleCredentials(credentials, why)) {
        m_client.SetCredentials(credentials);
        m_roleRetryAtMs = 0;
        return true;
    }
    // Keys not yet expired still sign until the next try.
    if (now < m_roleExpiryMs) {
        m_roleRetryAtMs = now + kRenewRetryMs;
        return true;
    }
    error = "ExpiredToken: the instance role's credentials have expired and cannot be renewed: " + why;
    return false;
}
