#include "cloudsim/endpoints/EndpointServer.h"

#include <chrono>
#include <stdexcept>

#include <httplib.h>

#include "cloudsim/Cloud.h"
#include "cloudsim/endpoints/EbsService.h"
#include "cloudsim/endpoints/IpRangesService.h"

namespace cloudsim::endpoints {
namespace {

constexpr size_t kEbsRequestsPerConnection = 100;

std::string FirstAccount(const std::shared_ptr<Cloud>& cloud) {
    std::string id;
    cloud->Read([&](const State& state) {
        if (!state.accounts.empty()) id = state.accounts.front().id;
    });
    return id;
}

}  // namespace

EndpointServer::EndpointServer(std::shared_ptr<Cloud> cloud, const EndpointOptions& options) : m_store(cloud) {
    for (int i = 0; i < 3; ++i) {
        std::unique_ptr<httplib::Server> server;
        if (i == 1 && !options.metadataOverTls)
            server = std::make_unique<httplib::Server>();
        else
            server = std::make_unique<httplib::SSLServer>(options.certFile.c_str(), options.keyFile.c_str());
        if (!server->is_valid())
            throw std::runtime_error("endpoint server: cannot use certificate " + options.certFile + " and key " +
                                     options.keyFile);
        // EBS keeps a client's connection for many requests; the HTTP
        // library's default closes it after 5, which made every fifth block
        // of a direct read pay a new TCP and TLS handshake. A hundred still
        // has every long read meet the server closing its connection.
        if (i == 0) server->set_keep_alive_max_count(kEbsRequestsPerConnection);
        if (i == 0 && options.ebsWorkerThreads > 0) {
            const size_t threads = static_cast<size_t>(options.ebsWorkerThreads);
            // The server owns the queue it asks for.
            server->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
        }
        m_servers.push_back(std::move(server));
    }
    m_ebs = std::make_unique<EbsService>(*m_servers[0], cloud, m_store, m_faults);
    m_metadata = std::make_unique<MetadataService>(*m_servers[1], cloud, m_store, m_faults, options.metadata,
                                                   FirstAccount(cloud));
    m_ipRanges = std::make_unique<IpRangesService>(*m_servers[2], cloud, m_faults);

    for (int i = 0; i < 3; ++i) {
        m_ports[i] = m_servers[i]->bind_to_any_port("127.0.0.1");
        if (m_ports[i] <= 0) {
            Stop();
            throw std::runtime_error("endpoint server: cannot bind a loopback port");
        }
        httplib::Server* server = m_servers[i].get();
        m_threads.emplace_back([server] { server->listen_after_bind(); });
    }
    // Callers connect right after construction, so wait until every server
    // accepts; a server that never starts is a broken set-up, not a wait.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (auto& server : m_servers) {
        while (!server->is_running()) {
            if (std::chrono::steady_clock::now() > deadline) {
                Stop();
                throw std::runtime_error("endpoint server: a server did not start");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

EndpointServer::~EndpointServer() { Stop(); }

void EndpointServer::Stop() {
    for (auto& server : m_servers) server->stop();
    for (auto& thread : m_threads)
        if (thread.joinable()) thread.join();
    m_threads.clear();
}

}  // namespace cloudsim::endpoints
