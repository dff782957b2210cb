// The wire backend learns the proxy's own identity from the instance
// metadata service (the simulated one, over plain HTTP at its link-local
// address): IMDSv2 where tokens are offered, IMDSv1 where they are refused,
// and a failure that says why where there is no identity or no service.
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "bridge/AmazonSDKBridge.h"
#include "cloudsim/Cloud.h"
#include "cloudsim/endpoints/EndpointServer.h"
#include "cloudsim/endpoints/TestCertificates.h"
#include "framework/FileUtils.h"
#include "support/TestEnv.h"
#include "support/TestPaths.h"

namespace {

using cloudsim::endpoints::EndpointOptions;
using cloudsim::endpoints::EndpointServer;
using cloudsim::endpoints::MetadataOptions;

class WireMetadata : public ::testing::Test {
protected:
    void Start(const MetadataOptions& metadata) {
        StopServer();
        const std::string folder = FwFile::JoinPath(m_env.BaseDir(), "certs");
        ASSERT_TRUE(FwFile::MakeDirs(folder));
        auto certs = cloudsim::endpoints::WriteTestCertificates(folder, {"ebs.us-east-1.amazonaws.com"}, {"127.0.0.1"});
        m_server = std::make_unique<EndpointServer>(m_cloud, EndpointOptions{certs.certFile, certs.keyFile, metadata, false});
        TestEnv::SetSetting("Base", "sCurlConnectTo",
                            "169.254.169.254:80:127.0.0.1:" + std::to_string(m_server->MetadataPort()));
        NewBridge();
    }

    void NewBridge() {
        TestEnv::SetSetting("Bridge", "sBackend", "aws");
        m_bridge = std::make_unique<CAmazonSDKBridge>();
        ASSERT_TRUE(m_bridge->initialize("focus", "metadata", 1));
    }

    // The bridge first: a connection it keeps alive would hold the server's
    // stop until the server's idle time-out.
    void StopServer() {
        m_bridge.reset();
        m_server.reset();
    }

    TestEnv m_env;
    std::shared_ptr<cloudsim::Cloud> m_cloud = cloudsim::Cloud::InMemory(TestEnv::ReadFile(AMAZON_DEMO_SEED));
    std::unique_ptr<EndpointServer> m_server;
    std::unique_ptr<CAmazonSDKBridge> m_bridge;
};

TEST_F(WireMetadata, TheProxysIdAndRegionComeFromTheMetadataServiceEitherVersion) {
    std::string proxy, region;
    m_cloud->Read([&](const cloudsim::State& s) {
        proxy = s.proxyInstanceId;
        region = s.instances.at(proxy).region;
    });
    struct Case {
        const char* name;
        bool refuseTokens;
        bool requireTokens;
        bool v1;  // whether token-less requests were answered
    } cases[] = {{"IMDSv2 only", false, true, false}, {"either", false, false, false}, {"IMDSv1 only", true, false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MetadataOptions options;
        options.refuseTokens = c.refuseTokens;
        options.requireTokens = c.requireTokens;
        Start(options);
        std::string id, where;
        ASSERT_TRUE(m_bridge->GetLocalInstanceId(id)) << m_bridge->GetLastErrorString();
        ASSERT_TRUE(m_bridge->GetLocalInstanceRegion(where)) << m_bridge->GetLastErrorString();
        EXPECT_EQ(proxy, id);
        EXPECT_EQ(region, where);
        EXPECT_EQ(c.v1, m_server->Metadata().V1Requests() > 0);
    }
}

TEST_F(WireMetadata, NoIdentityOrNoServiceFailsWithTheCause) {
    Start(MetadataOptions{});
    m_cloud->Write([](cloudsim::State& s) { s.proxyInstanceId.clear(); });
    std::string id = "stale";
    EXPECT_FALSE(m_bridge->GetLocalInstanceId(id));
    EXPECT_EQ("", id);
    EXPECT_EQ("InstanceMetadataError: /latest/meta-data/instance-id answered HTTP 404", m_bridge->GetLastErrorString());

    StopServer();  // nothing listens at the routed port any more
    NewBridge();
    std::string region = "stale";
    EXPECT_FALSE(m_bridge->GetLocalInstanceRegion(region));
    EXPECT_EQ("", region);
    EXPECT_EQ(0u, m_bridge->GetLastErrorString().rfind("InstanceMetadataUnavailable: ", 0))
        << m_bridge->GetLastErrorString();
}

}  // namespace
