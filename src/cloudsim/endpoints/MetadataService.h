#pragma once
// The instance metadata service of the proxy instance, as far as a client
// needs it: IMDSv2 session tokens, the instance's identity (instance-id,
// placement/region, placement/availability-zone, read from the cloud's
// proxy instance at each request), the instance role's name, and the role's
// session credentials (issued into the credential store, so the EBS
// endpoint accepts them until they expire on the framework clock). A cloud
// without a proxy instance answers the identity paths 404, as the paths of
// anything the service does not know. Thread-safe.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <httplib.h>

#include "cloudsim/endpoints/CredentialStore.h"
#include "cloudsim/endpoints/FaultRules.h"

namespace cloudsim { class Cloud; }

namespace cloudsim::endpoints {

struct MetadataOptions {
    std::string roleName = "BackupProxyRole";
    std::string accountId;                   // whose keys the role's sessions are; empty: the first account
    int64_t credentialLifetimeMs = 6LL * 3600 * 1000;
    bool refuseTokens = false;               // PUT /latest/api/token answers 403 (IMDSv1 only)
    bool requireTokens = false;              // requests without a token answer 401 (IMDSv2 only)
};

class MetadataService {
public:
    MetadataService(httplib::Server& server, std::shared_ptr<Cloud> cloud, CredentialStore& store,
                    FaultRules& faults, MetadataOptions options, std::string defaultAccountId);

    void SetRefuseTokens(bool refuse) { m_refuseTokens = refuse; }
    void SetRequireTokens(bool require) { m_requireTokens = require; }
    // How many token-less (IMDSv1) requests were answered, so tests can see
    // which protocol a client used.
    int V1Requests() const { return m_v1Requests; }

private:
    void IssueToken(const httplib::Request& req, httplib::Response& res);
    // False when the answer (401) has been written.
    bool CheckToken(const httplib::Request& req, httplib::Response& res);
    void RoleName(const httplib::Request& req, httplib::Response& res);
    // One field of the proxy instance's record ("id", "region", "zone").
    void Identity(const httplib::Request& req, httplib::Response& res, const char* field);
    void RoleCredentials(const httplib::Request& req, httplib::Response& res);

    std::shared_ptr<Cloud> m_cloud;
    CredentialStore& m_store;
    FaultRules& m_faults;
    MetadataOptions m_options;
    std::atomic<bool> m_refuseTokens;
    std::atomic<bool> m_requireTokens;
    std::atomic<int> m_v1Requests{0};
    std::mutex m_mutex;
    std::map<std::string, int64_t> m_tokens;   // token -> expiry ms
    Credentials m_current;                     // the role's live session
};

}  // namespace cloudsim::endpoints
