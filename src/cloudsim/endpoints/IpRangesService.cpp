#include "cloudsim/endpoints/IpRangesService.h"

#include <nlohmann/json.hpp>

#include "cloudsim/Cloud.h"
#include "cloudsim/endpoints/HttpGlue.h"
#include "cloudsim/endpoints/TimeFormat.h"
#include "framework/Clock.h"

namespace cloudsim::endpoints {

IpRangesService::IpRangesService(httplib::Server& server, std::shared_ptr<Cloud> cloud, FaultRules& faults)
    : m_cloud(std::move(cloud)), m_faults(faults) {
    server.Get("/ip-ranges.json", [this](const httplib::Request&, httplib::Response& res) { Document(res); });
}

void IpRangesService::Document(httplib::Response& res) {
    std::vector<EndpointFault> hits = m_faults.Hits("IpRanges");
    if (ApplyFaultsBefore(hits, res)) return;
    int64_t now = FwClock::NowMs();
    nlohmann::json prefixes = nlohmann::json::array();
    nlohmann::json v6 = nlohmann::json::array();
    m_cloud->Read([&](const State& state) {
        // One /16 per region, its lower half for EC2, as the real document
        // nests EC2 ranges inside AMAZON ones.
        int n = 0;
        for (const Region& region : state.regions) {
            std::string net = "52." + std::to_string(10 + n++) + ".";
            for (const char* service : {"AMAZON", "EC2"}) {
                std::string prefix = net + (std::string(service) == "EC2" ? "0.0/17" : "0.0/16");
                prefixes.push_back({{"ip_prefix", prefix}, {"region", region.name}, {"service", service},
                                    {"network_border_group", region.name}});
            }
            v6.push_back({{"ipv6_prefix", "2600:1f" + std::to_string(10 + n) + "::/36"}, {"region", region.name},
                          {"service", "AMAZON"}, {"network_border_group", region.name}});
        }
    });
    nlohmann::json doc{{"syncToken", std::to_string(now / 1000)}, {"createDate", IpRangesDate(now)},
                       {"prefixes", prefixes}, {"ipv6_prefixes", v6}};
    res.set_content(doc.dump(2), "application/json");
    ApplyFaultsAfter(hits, res);
}

}  // namespace cloudsim::endpoints
