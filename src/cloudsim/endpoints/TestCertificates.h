#pragma once
// A throwaway certificate authority and a server certificate it signed, for
// serving the simulated endpoints over TLS that a client verifies for real.
// Keys are P-256; the certificates are valid for a day around the system
// time (TLS libraries check real time, not the framework clock).
#include <string>
#include <vector>

namespace cloudsim::endpoints {

struct CertificateFiles {
    std::string caFile;        // PEM CA certificate: the client's CA bundle
    std::string certFile;      // PEM server certificate
    std::string keyFile;       // PEM server private key
};

// Writes ca.pem, server.pem and server-key.pem into folder (which must
// exist). dnsNames and ipAddresses become the server certificate's subject
// alternative names. Throws std::runtime_error on failure.
CertificateFiles WriteTestCertificates(const std::string& folder, const std::vector<std::string>& dnsNames,
                                       const std::vector<std::string>& ipAddresses);

// The names the simulated endpoints answer to for the given regions.
std::vector<std::string> EndpointDnsNames(const std::vector<std::string>& regions);
std::vector<std::string> EndpointIpAddresses();   // 169.254.169.254, 127.0.0.1

}  // namespace cloudsim::endpoints
