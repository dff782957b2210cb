#pragma once
// The EBS direct APIs a backup reads with: GetSnapshotBlock,
// ListSnapshotBlocks and ListChangedBlocks, answering from the simulated
// cloud's snapshots for requests signed (service "ebs") with the cloud's
// account keys or issued session credentials. As strict as AWS: only the
// owner's completed snapshots are served, parameters are checked against the
// service model before anything is looked up, tokens expire on the framework
// clock, and changed blocks are listed only between related snapshots.
#include <memory>

#include <httplib.h>

#include "cloudsim/endpoints/BlockChecksums.h"
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
    // What Admit learnt about a request.
    struct Call {
        std::vector<EndpointFault> hits;   // the request faults it hit
        std::string region;                // the endpoint's (from the Host name, else the scope)
        std::string account;               // the caller's
    };
    // Verification, the endpoint's region, the caller's IAM denials, and the
    // request faults; false when the answer has already been written.
    bool Admit(const std::string& operation, const httplib::Request& req, httplib::Response& res, Call& call);
    void GetSnapshotBlock(const httplib::Request& req, httplib::Response& res);
    void ListSnapshotBlocks(const httplib::Request& req, httplib::Response& res);
    void ListChangedBlocks(const httplib::Request& req, httplib::Response& res);

    std::shared_ptr<Cloud> m_cloud;
    RequestVerifier m_verifier;
    FaultRules& m_faults;
    BlockChecksums m_checksums;
};

}  // namespace cloudsim::endpoints
