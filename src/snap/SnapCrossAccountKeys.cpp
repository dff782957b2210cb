// The process's custom keys of cross-account snap backups.
#include "snap/SnapCrossAccountKeys.h"

#include <mutex>

namespace AmazonSnap {

bool SnapCrossAccountKeys::FindKey(const std::string& sourceAccount, const std::string& adminAccount,
                                   const std::string& region, std::string& keyArn) const {
    std::shared_lock<std::shared_mutex> guard(m_lock);
    auto it = m_keys.find({sourceAccount, adminAccount, region});
    if (it == m_keys.end()) return false;
    keyArn = it->second;
    return true;
}

void SnapCrossAccountKeys::StoreKey(const std::string& sourceAccount, const std::string& adminAccount,
                                    const std::string& region, const std::string& keyArn) {
    std::unique_lock<std::shared_mutex> guard(m_lock);
    m_keys[{sourceAccount, adminAccount, region}] = keyArn;
}

void SnapCrossAccountKeys::Reset() {
    std::unique_lock<std::shared_mutex> guard(m_lock);
    m_keys.clear();
    m_copyDisabled.store(-1);
}

}  // namespace AmazonSnap
