#pragma once
// What cross-account snap backups keep for the life of the process: the
// "bAmazonDisableSnapshotCopy" setting, read once, and the custom key each
// source account, admin account and region uses for the copies of its
// default-key snapshots. A key belongs to one account and one region, and
// its grant to one admin account, so a job in any other one must not be
// handed it.
//
// Thread-safe: the setting is an atomic, the keys sit behind a lock of
// their own. Obtaining a missing key (bridge calls) is the caller's, under
// CAmazonInfo::c_getTransientMetadataLock, so that two jobs do not both
// create or grant it.
#include <atomic>
#include <map>
#include <shared_mutex>
#include <string>
#include <tuple>

namespace AmazonSnap {
class SnapCrossAccountKeys {
public:
    // -1 until the setting was read, then 0 or 1.
    int CopyDisabled() const { return m_copyDisabled.load(); }
    void SetCopyDisabled(bool disabled) { m_copyDisabled.store(disabled ? 1 : 0); }

    // False (keyArn untouched) when none is kept for the three.
    bool FindKey(const std::string& sourceAccount, const std::string& adminAccount, const std::string& region,
                 std::string& keyArn) const;
    void StoreKey(const std::string& sourceAccount, const std::string& adminAccount, const std::string& region,
                  const std::string& keyArn);
    // Forgets everything, as a new process starts.
    void Reset();

private:
    std::atomic<int> m_copyDisabled{-1};
    mutable std::shared_mutex m_lock;
    std::map<std::tuple<std::string, std::string, std::string>, std::string> m_keys;   // under m_lock
};
}  // namespace AmazonSnap
