#pragma once
// Fault rules: what a test or the demo injects into the cloud's calls, and
// the hits of one call against them.
#include <string>
#include <utility>
#include <vector>

#include "cloudsim/Schema.h"

namespace cloudsim {

struct FaultRule {
    // Constructors rather than aggregate initialisation, so that rules written
    // as {operation, nth, error, seen} before kind and target existed still
    // compile without warnings.
    FaultRule() = default;
    FaultRule(std::string operation_, int nth_, std::string error_, int seen_ = 0, std::string kind_ = "fail",
              std::string target_ = "")
        : operation(std::move(operation_)), nth(nth_), error(std::move(error_)), seen(seen_),
          kind(std::move(kind_)), target(std::move(target_)) {}

    std::string operation;               // bridge operation name, e.g. "Connect"; "*": every operation
    int nth = 0;                         // hit the n-th call (1-based); 0 = every call
    std::string error;                   // AWS-like text handed back (fail, conflict)
    int seen = 0;                        // calls counted so far
    // fail: the call fails with error. conflict: AttachVolume reports its
    // conflict flag and fails. stuck: what the call creates or changes never
    // leaves its transitional state. error: it ends in error/failed.
    // count: only counts calls (in seen). kill: the process is killed
    // (SIGKILL) just before the call, once the count is committed. term:
    // the process is sent SIGTERM just before the call, which goes ahead.
    std::string kind = "fail";
    std::string target;                  // stuck/error: only when the call names or creates this id
};

// The hits of one call against the fault rules.
struct FaultHit {
    bool fail = false;                   // a "fail" rule hit: error holds its text
    std::string error;
    bool conflict = false;               // a "conflict" rule hit: conflictError holds its text (may be empty)
    std::string conflictError;
    std::vector<FaultRule> effects;      // "stuck" and "error" rules hit

    // The effect ("stuck", "error" or "") on a resource this call creates or
    // changes, given every id the call names or creates. "error" wins.
    std::string EffectFor(const std::vector<std::string>& ids) const;
};

const schema::Table<FaultRule>& FaultRuleTable();

}  // namespace cloudsim
