// AWS's retry classification and capped, jittered exponential backoff.
#include "bridge/wire/WireRetry.h"

#include <algorithm>
#include <random>
#include <set>

namespace bridgeimpl {
namespace wire {

bool IsThrottlingCode(const std::string& code) {
    // botocore's list (retryhandler / standard retry mode).
    static const std::set<std::string> kCodes = {
        "Throttling", "ThrottlingException", "ThrottledException", "RequestThrottledException",
        "TooManyRequestsException", "ProvisionedThroughputExceededException", "TransactionInProgressException",
        "RequestLimitExceeded", "BandwidthLimitExceeded", "LimitExceededException", "RequestThrottled",
        "SlowDown", "PriorRequestNotComplete", "EC2ThrottledException"};
    return kCodes.count(code) > 0;
}

bool IsRetryable(long status, const std::string& code, bool connectionFault) {
    static const std::set<std::string> kTransient = {"RequestTimeout", "RequestTimeoutException",
                                                     "InternalError", "InternalFailure", "ServiceUnavailable",
                                                     "Unavailable"};
    if (connectionFault) return true;
    if (IsThrottlingCode(code) || kTransient.count(code) > 0) return true;
    return status == 429 || status == 500 || status == 502 || status == 503 || status == 504;
}

int64_t RetryPolicy::BackoffMs(int attempt) const {
    int64_t bound = baseMs;
    for (int i = 0; i < attempt && bound < capMs; ++i) bound *= 2;
    bound = std::min(bound, capMs);
    double share;
    if (random) {
        share = random();
    } else {
        thread_local std::mt19937_64 engine{std::random_device{}()};
        share = std::uniform_real_distribution<double>(0.0, 1.0)(engine);
    }
    return static_cast<int64_t>(share * static_cast<double>(bound));
}

}  // namespace wire
}  // namespace bridgeimpl
