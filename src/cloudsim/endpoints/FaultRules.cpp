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

int FaultRules::Calls(const std::string& operation) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_calls.find(operation);
    return it == m_calls.end() ? 0 : it->second;
}

std::vector<EndpointFault> FaultRules::Hits(const std::string& operation) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<EndpointFault> hits;
    ++m_calls[operation];
    for (Rule& rule : m_rules) {
        if (rule.fault.operation != "*" && rule.fault.operation != operation) continue;
        ++rule.calls;
        if (rule.fault.nth == 0 || rule.fault.nth == rule.calls) hits.push_back(rule.fault);
    }
    return hits;
}

}  // namespace cloudsim::endpoints
