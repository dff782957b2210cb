#pragma once
// The keys the simulated endpoints accept: the simulated cloud's accounts
// (long-term keys, never expiring) plus session credentials that the
// instance metadata service hands out with an expiry on the framework clock.
// Thread-safe: the HTTPS servers look keys up from their worker threads.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace cloudsim { class Cloud; }

namespace cloudsim::endpoints {

struct Credentials {
    std::string accessKey;
    std::string secretKey;
    std::string token;         // empty for long-term keys
    std::string accountId;
    int64_t expiresMs = 0;     // 0: never
};

class CredentialStore {
public:
    explicit CredentialStore(std::shared_ptr<Cloud> cloud) : m_cloud(std::move(cloud)) {}

    std::optional<Credentials> Find(const std::string& accessKey) const;
    // Session credentials of accountId valid for lifetimeMs from now.
    Credentials IssueSession(const std::string& accountId, int64_t lifetimeMs);
    // Keys known to the endpoints but not to the cloud (signing vectors).
    void Add(const Credentials& credentials);

private:
    std::shared_ptr<Cloud> m_cloud;
    mutable std::mutex m_mutex;
    std::map<std::string, Credentials> m_extra;   // by access key
    int64_t m_issued = 0;
};

}  // namespace cloudsim::endpoints
