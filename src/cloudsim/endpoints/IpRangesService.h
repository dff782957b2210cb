#pragma once
// The published AWS IP address ranges document, listing AMAZON and EC2
// prefixes for every region of the simulated cloud.
#include <memory>

#include <httplib.h>

#include "cloudsim/endpoints/FaultRules.h"

namespace cloudsim { class Cloud; }

namespace cloudsim::endpoints {

class IpRangesService {
public:
    IpRangesService(httplib::Server& server, std::shared_ptr<Cloud> cloud, FaultRules& faults);

private:
    void Document(httplib::Response& res);

    std::shared_ptr<Cloud> m_cloud;
    FaultRules& m_faults;
};

}  // namespace cloudsim::endpoints
