#pragma once
// The two paths a direct-read disk is read on: the plug-in's own HTTPS client
// (what users get unless a setting says otherwise), here against the
// simulated EBS endpoints served on loopback under their real host names,
// and the block-read bridge. The slot-level read tests run on both.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "cloudsim/Cloud.h"
#include "cloudsim/endpoints/EndpointServer.h"
#include "cloudsim/endpoints/TestCertificates.h"
#include "framework/FileUtils.h"
#include "support/TestEnv.h"

enum class ReadPath { Rest, Bridge };

inline std::string ReadPathName(const ::testing::TestParamInfo<ReadPath>& info) {
    return info.param == ReadPath::Rest ? "RestClient" : "Bridge";
}

// Chooses the path for plug-in objects connected from now on; for the REST
// client also serves the cloud's endpoints of both demo regions until it is
// destroyed. Throws when the endpoints cannot start.
class ReadPathServer {
public:
    ReadPathServer(ReadPath path, const std::shared_ptr<cloudsim::Cloud>& cloud, const std::string& baseDir) {
        using namespace cloudsim::endpoints;
        TestEnv::SetSetting("VirtualServer", "nAmazonUseRestAPIForDirectSnapshotAccess",
                            path == ReadPath::Rest ? "true" : "false");
        if (path == ReadPath::Bridge) return;
        const std::string folder = baseDir + "/certs";
        const std::vector<std::string> regions{"us-east-1", "us-west-2"};
        if (!FwFile::MakeDirs(folder)) throw std::runtime_error("cannot make " + folder);
        const CertificateFiles certs = WriteTestCertificates(folder, EndpointDnsNames(regions), EndpointIpAddresses());
        if (!FwFile::WriteAllAtomic(baseDir + "/curl-ca-bundle.crt", TestEnv::ReadFile(certs.caFile)))
            throw std::runtime_error("cannot write the CA bundle");
        // More workers than reader threads: an idle keep-alive connection
        // holds its worker.
        m_server = std::make_unique<EndpointServer>(cloud,
                                                    EndpointOptions{certs.certFile, certs.keyFile, {}, false, 16});
        std::string routes = "169.254.169.254:80:127.0.0.1:" + std::to_string(m_server->MetadataPort());
        for (const auto& region : regions)
            routes += ",ebs." + region + ".amazonaws.com:443:127.0.0.1:" + std::to_string(m_server->EbsPort());
        TestEnv::SetSetting("Base", "sCurlConnectTo", routes);
    }

    // Blocks the endpoints served; 0 on the bridge path.
    int BlockCalls() { return m_server ? m_server->Faults().Calls("GetSnapshotBlock") : 0; }

private:
    std::unique_ptr<cloudsim::endpoints::EndpointServer> m_server;
};
