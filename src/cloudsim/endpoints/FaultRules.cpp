#include "cloudsim/endpoints/FaultRules.h"

namespace cloudsim::endpoints {

void FaultRules::Add(const EndpointFault& fault) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rules.push_back(Rule{fault, 0});
}

void FaultRules::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rules.clear();
}

std::vector<EndpointFault> FaultRules::Hits(const std::string& operation) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<EndpointFault> hits;
    for (Rule& rule : m_rules) {
        if (rule.fault.operation != "*" && rule.fault.operation != operation) continue;
        ++rule.calls;
        if (rule.fault.nth == 0 || rule.fault.nth == rule.calls) hits.push_back(rule.fault);
    }
    return hits;
}

}  // namespace cloudsim::endpoints
