#pragma once
// The simulated EBS direct, instance metadata and IP ranges endpoints,
// reached by the plug-in's own HTTPS client under their real host names
// (connect-to table, agent CA bundle), a bridge on the same cloud whose
// calls are counted or bent, and the log lines the client writes.
#include <atomic>
#include <functional>
#include <vector>

#include "bridge/AmazonSDKBridge.h"
#include "cloudsim/BlockToken.h"
#include "ebsdirect/AmazonDirectSnapshotAccessAPIWrapper.h"
#include "endpoints/EndpointFixture.h"
#include "framework/FileUtils.h"
#include "support/LogTap.h"
#include "support/LoopbackSockets.h"

namespace ebsdirect_test {

using namespace endpoints_test;
using namespace AmazonDirectSnapshotAccessAPI;

constexpr int64_t kBlock = 512 * 1024;
constexpr const char* kRegion = "us-east-1";
constexpr const char* kSourceAccount = demo::kSourceAccount;

// A bridge on the process cloud that counts what the client asks of it and
// can misreport the block size or hand out sessions of the endpoints' own
// credential store (whose lifetime the test chooses).
class CountingBridge : public CAmazonSDKBridge {
public:
    bool GetAllocatedBlockPage(const std::string& snapshotId, const std::string& region, int maxResults,
                               VMInfoStructs::SDiskChangeInfo& info, int& blockSize) override {
        ++accessInfoCalls;
        if (!CAmazonSDKBridge::GetAllocatedBlockPage(snapshotId, region, maxResults, info, blockSize)) return false;
        if (reportedBlockSize) blockSize = reportedBlockSize;
        return true;
    }
    bool GenerateAssumeRoleSessionCredentials(const std::string& roleArn, std::string& accessKeyId,
                                              std::string& secretAccessKey, std::string& sessionToken) override {
        const int call = ++assumeCalls;
        if (!issue) return CAmazonSDKBridge::GenerateAssumeRoleSessionCredentials(roleArn, accessKeyId,
                                                                                   secretAccessKey, sessionToken);
        const cloudsim::endpoints::Credentials c = issue(call);
        accessKeyId = c.accessKey;
        secretAccessKey = c.secretKey;
        sessionToken = c.token;
        return true;
    }

    std::atomic<int> accessInfoCalls{0};
    std::atomic<int> assumeCalls{0};
    int reportedBlockSize = 0;   // 0: as the cloud says
    std::function<cloudsim::endpoints::Credentials(int call)> issue;   // null: the cloud's own sessions
};

class DirectEndpointTest : public EndpointTest {
protected:
    void SetUp() override { StartDirect(MetadataOptions{}); }

    void StartDirect(const MetadataOptions& metadata) {
        Start(metadata, false);   // the metadata service speaks plain HTTP, as the real one
        cloudsim::Cloud::SetProcessCloud(cloud);
        ASSERT_TRUE(FwFile::WriteAllAtomic(FwFile::JoinPath(env.BaseDir(), "curl-ca-bundle.crt"),
                                           TestEnv::ReadFile(certs.caFile)));
        Route(Server().EbsPort());
        if (!m_log) m_log = std::make_unique<LogTap>();
        ASSERT_TRUE(bridge.initialize("Amazon", "VSA", 42));
        ASSERT_TRUE(bridge.Connect(kRegion, kAccessKey, kSecretKey)) << bridge.GetLastErrorString();
    }

    // The EBS host goes to ebsPort; clients set up afterwards follow.
    void Route(int ebsPort) {
        TestEnv::SetSetting("Base", "sCurlConnectTo",
                            "ebs.us-east-1.amazonaws.com:443:127.0.0.1:" + std::to_string(ebsPort) +
                                ",169.254.169.254:80:127.0.0.1:" + std::to_string(Server().MetadataPort()) +
                                ",ip-ranges.amazonaws.com:443:127.0.0.1:" + std::to_string(Server().IpRangesPort()));
    }

    // How many log lines contain text.
    int Logged(const std::string& text) { return m_log ? m_log->Containing(text) : 0; }

    int BlockCalls() { return Server().Faults().Calls("GetSnapshotBlock"); }

    CountingBridge bridge;

private:
    std::unique_ptr<LogTap> m_log;   // from the start of the endpoints on
};

}  // namespace ebsdirect_test
