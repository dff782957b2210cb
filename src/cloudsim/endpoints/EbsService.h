#pragma once
// The EBS direct APIs a backup reads with: GetSnapshotBlock,
// ListSnapshotBlocks and ListChangedBlocks, answering from the simulated
// cloud's snapshots for requests signed (service "ebs") with the cloud's
// account keys or issued session credentials.
#include <memory>

#include <httplib.h>

#include "cloudsim/endpoints/CredentialStore.h"
#include "cloudsim/endpoints/FaultRules.h"
#include "cloudsim/endpoints/RequestVerifier.h"

namespace cloudsim { class Cloud; }

namespace cloudsim::endpoints {

class EbsService {
public:
    // Registers the routes on server; every argument must outlive it.
    EbsService(httplib::Server& server, std::shared_ptr<Cloud> cloud, const CredentialStore& store,
               FaultRules& faults);

private:
    // Verification, the endpoint's region, the caller's IAM denials, and the
    // request faults; false when the answer has already been written.
    // region is the endpoint's region (from the Host name, else the scope).
    bool Admit(const std::string& operation, const httplib::Request& req, httplib::Response& res,
               std::vector<EndpointFault>& hits, std::string& region);
    // The snapshot's size, or -1 when this region has no such snapshot.
    int64_t SnapshotSize(const std::string& id, const std::string& region);
    void GetSnapshotBlock(const httplib::Request& req, httplib::Response& res);
    void ListSnapshotBlocks(const httplib::Request& req, httplib::Response& res);
    void ListChangedBlocks(const httplib::Request& req, httplib::Response& res);

    std::shared_ptr<Cloud> m_cloud;
    RequestVerifier m_verifier;
    FaultRules& m_faults;
};

}  // namespace cloudsim::endpoints
