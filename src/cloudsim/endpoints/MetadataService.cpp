#include "cloudsim/endpoints/MetadataService.h"

#include <nlohmann/json.hpp>

#include "cloudsim/Cloud.h"
#include "cloudsim/endpoints/Digest.h"
#include "cloudsim/endpoints/HttpGlue.h"
#include "cloudsim/endpoints/TimeFormat.h"
#include "framework/Clock.h"

namespace cloudsim::endpoints {
namespace {

constexpr int64_t kMaxTokenTtlSeconds = 21600;
// Like the real service, hand out fresh credentials a while before the old
// ones run out, so a client refreshing in time never gets expiring ones.
constexpr int64_t kRefreshBeforeMs = 5 * 60 * 1000;

void Plain(httplib::Response& res, int status, const std::string& text) {
    res.status = status;
    res.set_content(text, "text/plain");
}

}  // namespace

MetadataService::MetadataService(httplib::Server& server, std::shared_ptr<Cloud> cloud, CredentialStore& store,
                                 FaultRules& faults, MetadataOptions options, std::string defaultAccountId)
    : m_cloud(std::move(cloud)), m_store(store), m_faults(faults), m_options(std::move(options)), m_refuseTokens(m_options.refuseTokens),
      m_requireTokens(m_options.requireTokens) {
    if (m_options.accountId.empty()) m_options.accountId = std::move(defaultAccountId);
    server.Put("/latest/api/token",
               [this](const httplib::Request& req, httplib::Response& res) { IssueToken(req, res); });
    // The SDKs ask for the zone with a trailing slash, the CLI's examples
    // without; the service answers both.
    server.Get("/latest/meta-data/instance-id",
               [this](const httplib::Request& req, httplib::Response& res) { Identity(req, res, "id"); });
    server.Get(R"(/latest/meta-data/placement/region/?)",
               [this](const httplib::Request& req, httplib::Response& res) { Identity(req, res, "region"); });
    server.Get(R"(/latest/meta-data/placement/availability-zone/?)",
               [this](const httplib::Request& req, httplib::Response& res) { Identity(req, res, "zone"); });
    server.Get("/latest/meta-data/iam/security-credentials/",
               [this](const httplib::Request& req, httplib::Response& res) { RoleName(req, res); });
    server.Get(R"(/latest/meta-data/iam/security-credentials/([^/]+))",
               [this](const httplib::Request& req, httplib::Response& res) { RoleCredentials(req, res); });
}

void MetadataService::IssueToken(const httplib::Request& req, httplib::Response& res) {
    if (ApplyFaultsBefore(m_faults.Hits("MetadataToken"), res)) return;
    if (m_refuseTokens) return Plain(res, 403, "Forbidden");
    std::string ttlText = req.get_header_value("X-aws-ec2-metadata-token-ttl-seconds");
    int64_t ttl = 0;
    try {
        ttl = ttlText.empty() ? 0 : std::stoll(ttlText);
    } catch (const std::exception&) {
        ttl = 0;
    }
    if (ttl < 1 || ttl > kMaxTokenTtlSeconds) return Plain(res, 400, "Bad Request");
    std::lock_guard<std::mutex> lock(m_mutex);
    int64_t now = FwClock::NowMs();
    std::string token = Base64(Sha256(std::to_string(now) + "/" + std::to_string(m_tokens.size()) + "/" +
                                      std::to_string(reinterpret_cast<uintptr_t>(this))));
    m_tokens[token] = now + ttl * 1000;
    res.set_header("X-aws-ec2-metadata-token-ttl-seconds", std::to_string(ttl));
    Plain(res, 200, token);
}

bool MetadataService::CheckToken(const httplib::Request& req, httplib::Response& res) {
    std::string token = req.get_header_value("X-aws-ec2-metadata-token");
    if (token.empty()) {
        if (m_requireTokens) {
            Plain(res, 401, "Unauthorized");
            return false;
        }
        ++m_v1Requests;
        return true;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_tokens.find(token);
    if (it == m_tokens.end() || FwClock::NowMs() >= it->second) {
        Plain(res, 401, "Unauthorized");
        return false;
    }
    return true;
}

void MetadataService::RoleName(const httplib::Request& req, httplib::Response& res) {
    if (!CheckToken(req, res)) return;
    if (ApplyFaultsBefore(m_faults.Hits("MetadataCredentials"), res)) return;
    Plain(res, 200, m_options.roleName);
}

void MetadataService::Identity(const httplib::Request& req, httplib::Response& res, const char* field) {
    if (!CheckToken(req, res)) return;
    std::vector<EndpointFault> hits = m_faults.Hits("MetadataIdentity");
    if (ApplyFaultsBefore(hits, res)) return;
    const std::string which = field;
    std::string value;
    m_cloud->Read([&](const State& s) {
        auto it = s.instances.find(s.proxyInstanceId);
        if (s.proxyInstanceId.empty() || it == s.instances.end()) return;
        value = which == "id" ? it->second.id : which == "region" ? it->second.region : it->second.zone;
    });
    if (value.empty()) return Plain(res, 404, "Not Found");
    Plain(res, 200, value);
    ApplyFaultsAfter(hits, res);
}

void MetadataService::RoleCredentials(const httplib::Request& req, httplib::Response& res) {
    if (!CheckToken(req, res)) return;
    std::vector<EndpointFault> hits = m_faults.Hits("MetadataCredentials");
    if (ApplyFaultsBefore(hits, res)) return;
    if (req.matches[1] != m_options.roleName) return Plain(res, 404, "Not Found");
    Credentials c;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        int64_t now = FwClock::NowMs();
        if (m_current.accessKey.empty() || now + kRefreshBeforeMs >= m_current.expiresMs)
            m_current = m_store.IssueSession(m_options.accountId, m_options.credentialLifetimeMs);
        c = m_current;
    }
    nlohmann::json out{{"Code", "Success"},
                       {"LastUpdated", Iso8601(c.expiresMs - m_options.credentialLifetimeMs)},
                       {"Type", "AWS-HMAC"},
                       {"AccessKeyId", c.accessKey},
                       {"SecretAccessKey", c.secretKey},
                       {"Token", c.token},
                       {"Expiration", Iso8601(c.expiresMs)}};
    res.set_content(out.dump(2), "text/plain");
    ApplyFaultsAfter(hits, res);
}

}  // namespace cloudsim::endpoints
