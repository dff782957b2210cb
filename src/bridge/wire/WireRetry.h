#pragma once
// Private to the wire backend: which failures are worth another attempt and
// how long to wait before it, as AWS's SDKs decide (their "standard" retry
// mode). Retried: throttling error codes, HTTP 5xx (and 429), transient
// service codes, and faults of the connection. Not retried: every other
// client error, which another attempt would only repeat.
//
// The wait before attempt n+1 is a random share of min(cap, base * 2^n)
// ("full jitter"), slept on the framework clock, so tests never wait.
#include <cstdint>
#include <functional>
#include <string>

#ifndef BRIDGE_INTERNAL
#define BRIDGE_INTERNAL __attribute__((visibility("hidden")))
#endif

namespace bridgeimpl BRIDGE_INTERNAL {
namespace wire {

bool IsThrottlingCode(const std::string& code);
// status: the HTTP status (0 when no exchange completed); code: AWS's error
// code from the body, when it had one.
bool IsRetryable(long status, const std::string& code, bool connectionFault);

struct RetryPolicy {
    int maxAttempts = 3;      // the SDKs' default, the first attempt included
    int64_t baseMs = 100;
    int64_t capMs = 20000;
    // A value in [0, 1); replaced by tests that want the bound itself.
    std::function<double()> random;

    // The wait before the attempt after attempt number `attempt` (0-based).
    int64_t BackoffMs(int attempt) const;
};

}  // namespace wire
}  // namespace bridgeimpl
