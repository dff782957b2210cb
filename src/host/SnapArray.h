#pragma once
// The host's account as the snapshot manager's array (snap control host) for
// the run of a job: the manager acts in it for snap backups and their copies.
#include <cstdint>

#include "framework/SnapEngine.h"
#include "host/HostOptions.h"

// The snap control host the host program registers its account under.
constexpr uint32_t kHostSnapArray = 1;

class SnapArrayRegistration {
public:
    explicit SnapArrayRegistration(const ConnectJob& job) {
        FwSnapEngine::RegisterArray(kHostSnapArray, {job.url, job.accessKey, job.secretKey});
    }
    ~SnapArrayRegistration() { FwSnapEngine::UnregisterArray(kHostSnapArray); }
    SnapArrayRegistration(const SnapArrayRegistration&) = delete;
    SnapArrayRegistration& operator=(const SnapArrayRegistration&) = delete;
};
