#include "cloudsim/endpoints/CredentialStore.h"

#include <cctype>
#include <cstdint>

#include "cloudsim/Cloud.h"
#include "cloudsim/endpoints/Digest.h"
#include "framework/Clock.h"

namespace cloudsim::endpoints {

std::optional<Credentials> CredentialStore::Find(const std::string& accessKey) const {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_extra.find(accessKey);
        if (it != m_extra.end()) return it->second;
    }
    std::optional<Credentials> found;
    if (m_cloud) {
        m_cloud->Read([&](const State& state) {
            if (const Account* account = state.FindAccountByKey(accessKey))
                found = Credentials{account->accessKey, account->secretKey, "", account->id, 0};
            else if (const Session* session = state.FindSession(accessKey))
                found = Credentials{session->accessKey, session->secretKey, session->token, session->account,
                                    session->expiresMs};
        });
    }
    return found;
}

Credentials CredentialStore::IssueSession(const std::string& accountId, int64_t lifetimeMs) {
    std::lock_guard<std::mutex> lock(m_mutex);
    int64_t now = FwClock::NowMs();
    // Derived from a counter and the time, so keys differ between issues
    // and between stores but a run repeats itself under a virtual clock.
    std::string seed = accountId + "/" + std::to_string(++m_issued) + "/" + std::to_string(now) + "/" +
                       std::to_string(reinterpret_cast<uintptr_t>(this));
    std::string hex = Hex(Sha256(seed));
    std::string key = "ASIA";
    for (size_t i = 0; i < 16; ++i) key += static_cast<char>(std::toupper(static_cast<unsigned char>(hex[i])));
    Credentials c{key, Base64(Sha256("secret/" + seed)).substr(0, 40), Base64(Sha256("token/" + seed) + Sha256(seed)),
                  accountId, now + lifetimeMs};
    m_extra[c.accessKey] = c;
    return c;
}

void CredentialStore::Add(const Credentials& credentials) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_extra[credentials.accessKey] = credentials;
}

}  // namespace cloudsim::endpoints
