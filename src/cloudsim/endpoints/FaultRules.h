#pragma once
// Faults the simulated endpoints inject into their answers, for testing a
// client's retries and checks. A rule names an operation ("GetSnapshotBlock",
// "ListSnapshotBlocks", "ListChangedBlocks", "MetadataToken",
// "MetadataCredentials", "MetadataIdentity", "IpRanges", or "*" for any)
// and hits its nth matching call (1-based) or every one (nth 0). Calls are
// counted per rule, so two rules on one operation count independently.
// Thread-safe.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace cloudsim::endpoints {

enum class FaultKind {
    InternalError,     // 500 InternalServerException
    Unavailable,       // 503 ServiceUnavailableException
    Throttle,          // 400 ThrottlingException "Rate exceeded" (the account's request rate)
    RequestThrottled,  // 400 RequestThrottledException (the snapshot's request rate)
    BadGateway,        // 502 from the load balancer in front: an HTML page, no error type
    GatewayTimeout,    // 504 from the load balancer in front: an HTML page, no error type
    InvalidBlockToken, // 400 ValidationException INVALID_BLOCK_TOKEN, as for a token past its expiry
    ExpiredToken,      // 403 ExpiredTokenException
    ShortBody,         // Content-Length announces more than is sent
    WrongChecksum,     // x-amz-Checksum of other bytes
    MissingChecksum,   // no x-amz-Checksum header
    ZeroChecksum,      // x-amz-Checksum of a block of zeros, whatever the body
    Delay,             // answer normally after delayMs of wall time
};

struct EndpointFault {
    std::string operation;
    FaultKind kind = FaultKind::InternalError;
    int nth = 0;
    int64_t delayMs = 0;   // Delay only
};

class FaultRules {
public:
    void Add(const EndpointFault& fault);
    void Clear();
    // The rules this call of operation hits, in the order they were added.
    std::vector<EndpointFault> Hits(const std::string& operation);
    // How many calls of operation reached the fault check (for the EBS APIs:
    // requests whose signature was accepted), rules or not. Clear keeps it.
    int Calls(const std::string& operation) const;

private:
    struct Rule {
        EndpointFault fault;
        int calls = 0;
    };
    mutable std::mutex m_mutex;
    std::vector<Rule> m_rules;
    std::map<std::string, int> m_calls;
};

}  // namespace cloudsim::endpoints
