// GetSnapshotBlock requests signed by botocore (an independent signer) are
// accepted, for tokens with "+", "/" and "=" padding; the same request with a
// signed part changed is not. botocore's metadata fetchers read the proxy
// instance's identity from the metadata service.
#include <sys/wait.h>

#include <cstdio>
#include <sstream>

#include "cloudsim/BlockToken.h"
#include "endpoints/EndpointFixture.h"
#include "support/BotocoreSigned.h"
#include "support/TestPaths.h"

using namespace endpoints_test;

TEST_F(EndpointTest, BotocoreSignedRequestIsAcceptedAndATamperedOneIsNot) {
    // Blocks whose tokens hold each character that URL encoding changes.
    std::vector<int64_t> indexes;
    for (const char* wanted : {"+", "/", "="}) {
        for (int64_t index : cloud->SnapshotBlocks(kBigSnapshot))
            if (cloudsim::BlockToken(kBigSnapshot, index).find(wanted) != std::string::npos) {
                indexes.push_back(index);
                break;
            }
    }
    ASSERT_EQ(indexes.size(), 3u);
    for (int64_t index : indexes) {
        SCOPED_TRACE(cloudsim::BlockToken(kBigSnapshot, index));
        const BotocoreSigned request =
            SignWithBotocore(kAccessKey, kSecretKey, "us-east-1", "ebs.us-east-1.amazonaws.com",
                             BlockPath(kBigSnapshot, index), FwClock::NowSec(),
                             {{"blockToken", cloudsim::BlockToken(kBigSnapshot, index)}});
        if (request.target.empty()) GTEST_SKIP() << "python3 with botocore is not available";
        ASSERT_NE(request.target.find("blockToken="), std::string::npos);
        const httplib::Headers headers(request.headers.begin(), request.headers.end());

        auto res = Client(Server().EbsPort())->Get(request.target.c_str(), headers);
        ASSERT_TRUE(res) << httplib::to_string(res.error());
        EXPECT_EQ(res->status, 200) << res->body;
        EXPECT_EQ(res->body, cloud->ReadSnapshot(kBigSnapshot, index * cloudsim::kBlockSize, cloudsim::kBlockSize));

        std::string tampered = request.target;
        tampered.replace(tampered.find("/blocks/") + 8, std::to_string(index).size(), std::to_string(index + 1));
        EXPECT_EQ("403 SignatureDoesNotMatch", Answer(Client(Server().EbsPort())->Get(tampered.c_str(), headers)));
    }
}

// What an SDK on the proxy instance reads of its identity, through botocore's
// own metadata fetchers (IMDSv2: the service refuses token-less requests).
TEST_F(EndpointTest, BotocoresMetadataFetchersReadTheProxyInstancesIdentity) {
    MetadataOptions options;
    options.requireTokens = true;
    StartPlainMetadata(options);
    const std::string command = std::string("python3 ") + TEST_SOURCE_DIR + "/tests/endpoints/imds_identity.py " +
                                "http://127.0.0.1:" + std::to_string(Server().MetadataPort()) + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string text;
    char buf[4096];
    while (size_t n = fread(buf, 1, sizeof buf, pipe)) text.append(buf, n);
    const int status = pclose(pipe);
    // 3: no botocore; 127: no python3.
    if (WIFEXITED(status) && (WEXITSTATUS(status) == 3 || WEXITSTATUS(status) == 127))
        GTEST_SKIP() << "python3 with botocore is not available";
    ASSERT_EQ(status, 0) << text;
    const nlohmann::json got = nlohmann::json::parse(text);
    std::string proxy, region, zone;
    cloud->Read([&](const cloudsim::State& s) {
        proxy = s.proxyInstanceId;
        region = s.instances.at(proxy).region;
        zone = s.instances.at(proxy).zone;
    });
    EXPECT_EQ(proxy, got["instanceId"]);
    EXPECT_EQ(region, got["region"]);
    EXPECT_EQ(region, got["placementRegion"]);
    EXPECT_EQ(zone, got["zone"]);
    EXPECT_EQ(options.roleName, got["roleName"]);
    EXPECT_TRUE(got["usedToken"].get<bool>());
    EXPECT_EQ(0, Server().Metadata().V1Requests());

    // A cloud whose agent runs on no instance: the identity is not found.
    cloud->Write([](cloudsim::State& s) { s.proxyInstanceId.clear(); });
    httplib::Client plain("127.0.0.1", Server().MetadataPort());
    auto token = plain.Put("/latest/api/token", {{"X-aws-ec2-metadata-token-ttl-seconds", "60"}}, "", "text/plain");
    ASSERT_TRUE(token);
    auto id = plain.Get("/latest/meta-data/instance-id", {{"X-aws-ec2-metadata-token", token->body}});
    ASSERT_TRUE(id);
    EXPECT_EQ(404, id->status);
}
