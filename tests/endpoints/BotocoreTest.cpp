// GetSnapshotBlock requests signed by botocore (an independent signer) are
// accepted, for tokens with "+", "/" and "=" padding; the same request with a
// signed part changed is not.
#include <cstdio>
#include <sstream>

#include "cloudsim/BlockToken.h"
#include "endpoints/EndpointFixture.h"
#include "support/TestPaths.h"

using namespace endpoints_test;

namespace {

struct SignedByBotocore {
    std::string target;        // path and query
    httplib::Headers headers;
};

// Empty target when python3 or botocore is missing.
SignedByBotocore SignWithBotocore(const std::string& snapshot, int64_t index, int64_t epochSeconds) {
    std::string command = std::string("python3 ") + TEST_SOURCE_DIR + "/tests/endpoints/sign_get_snapshot_block.py " +
                          std::string(kAccessKey) + " " + kSecretKey + " us-east-1 " + snapshot + " " +
                          std::to_string(index) + " '" + cloudsim::BlockToken(snapshot, index) + "' " +
                          std::to_string(epochSeconds) + " 2>/dev/null";
    SignedByBotocore out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    std::string text;
    char buf[4096];
    while (size_t n = fread(buf, 1, sizeof buf, pipe)) text.append(buf, n);
    if (pclose(pipe) != 0) return out;
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);
    std::string url = line.substr(line.find(' ') + 1);
    out.target = url.substr(url.find('/', std::string("https://").size()));
    while (std::getline(lines, line)) {
        size_t colon = line.find(": ");
        if (colon != std::string::npos) out.headers.emplace(line.substr(0, colon), line.substr(colon + 2));
    }
    return out;
}

}  // namespace

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
        SignedByBotocore request = SignWithBotocore(kBigSnapshot, index, FwClock::NowSec());
        if (request.target.empty()) GTEST_SKIP() << "python3 with botocore is not available";
        ASSERT_NE(request.target.find("blockToken="), std::string::npos);

        auto res = Client(Server().EbsPort())->Get(request.target.c_str(), request.headers);
        ASSERT_TRUE(res) << httplib::to_string(res.error());
        EXPECT_EQ(res->status, 200) << res->body;
        EXPECT_EQ(res->body, cloud->ReadSnapshot(kBigSnapshot, index * cloudsim::kBlockSize, cloudsim::kBlockSize));

        std::string tampered = request.target;
        tampered.replace(tampered.find("/blocks/") + 8, std::to_string(index).size(), std::to_string(index + 1));
        EXPECT_EQ("403 SignatureDoesNotMatch", Answer(Client(Server().EbsPort())->Get(tampered.c_str(), request.headers)));
    }
}
