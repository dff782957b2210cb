// GetSnapshotBlock requests signed by botocore (an independent signer) are
// accepted, for tokens with "+", "/" and "=" padding; the same request with a
// signed part changed is not.
#include "cloudsim/BlockToken.h"
#include "endpoints/EndpointFixture.h"
#include "support/BotocoreSigned.h"

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
