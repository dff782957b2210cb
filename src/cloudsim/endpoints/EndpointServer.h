#pragma once
// The simulated AWS endpoints on loopback: the EBS direct APIs, the
// instance metadata service and the IP ranges document, each on its own
// HTTPS port of 127.0.0.1 (clients reach them under their real host names
// through a connect-to table). The metadata service can speak plain HTTP
// instead, as the real one does. Starts in the constructor (throws
// std::runtime_error when a server cannot start) and stops in the
// destructor. Not copyable.
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cloudsim/endpoints/CredentialStore.h"
#include "cloudsim/endpoints/FaultRules.h"
#include "cloudsim/endpoints/MetadataService.h"

namespace httplib { class Server; }
namespace cloudsim { class Cloud; }

namespace cloudsim::endpoints {

class EbsService;
class IpRangesService;

struct EndpointOptions {
    std::string certFile;      // PEM server certificate (chain)
    std::string keyFile;       // PEM private key
    MetadataOptions metadata;
    bool metadataOverTls = true;   // false: plain HTTP on the metadata port
    // Threads serving the EBS port; 0 keeps the HTTP library's default
    // (8 on a small machine). A keep-alive connection holds its thread
    // while idle, so a benchmark with more readers than threads would
    // otherwise time the server's idle time-out rather than the readers.
    int ebsWorkerThreads = 0;
};

class EndpointServer {
public:
    EndpointServer(std::shared_ptr<Cloud> cloud, const EndpointOptions& options);
    ~EndpointServer();
    EndpointServer(const EndpointServer&) = delete;
    EndpointServer& operator=(const EndpointServer&) = delete;

    int EbsPort() const { return m_ports[0]; }
    int MetadataPort() const { return m_ports[1]; }
    int IpRangesPort() const { return m_ports[2]; }

    FaultRules& Faults() { return m_faults; }
    CredentialStore& Credentials() { return m_store; }
    MetadataService& Metadata() { return *m_metadata; }

private:
    void Stop();

    FaultRules m_faults;
    CredentialStore m_store;
    std::vector<std::unique_ptr<httplib::Server>> m_servers;   // ebs, metadata, ip ranges
    std::unique_ptr<EbsService> m_ebs;
    std::unique_ptr<MetadataService> m_metadata;
    std::unique_ptr<IpRangesService> m_ipRanges;
    std::vector<std::thread> m_threads;
    int m_ports[3] = {0, 0, 0};
};

}  // namespace cloudsim::endpoints
