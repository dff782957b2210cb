// Fault rules: JSON and the effect of a call's hits.
#include "cloudsim/Faults.h"

#include "cloudsim/Async.h"

namespace cloudsim {

using namespace schema;

std::string FaultHit::EffectFor(const std::vector<std::string>& ids) const {
    std::string effect;
    for (const auto& rule : effects) {
        bool applies = rule.target.empty();
        for (const auto& id : ids) applies |= (!id.empty() && id == rule.target);
        if (!applies) continue;
        if (rule.kind == "error") return "error";
        effect = rule.kind;
    }
    return effect;
}

const Table<FaultRule>& FaultRuleTable() {
    using F = FaultRule;
    static const Table<F> table{
        {Required("operation", &F::operation), Member("nth", &F::nth), Member("error", &F::error),
         Member("seen", &F::seen), Member("kind", &F::kind), IfSet("target", &F::target)},
        [](F& r, const Fields& in) {
            if (r.nth < 0) Fail(in.Where("nth"), "must not be negative");
            if (r.kind.empty()) r.kind = "fail";
            CheckFaultKind(r.kind, in.Where("kind"), true);
        }};
    return table;
}

}  // namespace cloudsim
