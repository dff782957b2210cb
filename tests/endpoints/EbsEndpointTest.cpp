// The EBS direct APIs over real TLS: block bytes and checksums from the
// simulated cloud, block listings page by page, changed blocks between
// snapshots, and the errors for bad tokens and unknown snapshots.
#include <openssl/sha.h>

#include "cloudsim/BlockToken.h"
#include "cloudsim/endpoints/Digest.h"
#include "endpoints/EndpointFixture.h"

using namespace endpoints_test;

namespace {

std::string TokenQuery(const std::string& snapshot, int64_t index) {
    return "blockToken=" + UriEncode(cloudsim::BlockToken(snapshot, index), true);
}

}  // namespace

TEST_F(EndpointTest, GetSnapshotBlockReturnsTheCloudsBytesWithTheirChecksum) {
    std::vector<int64_t> blocks = cloud->SnapshotBlocks(kBigSnapshot);
    ASSERT_FALSE(blocks.empty());
    int64_t index = blocks[7];
    auto res = SignedGet(BlockPath(kBigSnapshot, index), TokenQuery(kBigSnapshot, index));
    ASSERT_TRUE(res) << httplib::to_string(res.error());
    ASSERT_EQ(res->status, 200) << res->body;
    std::string expected = cloud->ReadSnapshot(kBigSnapshot, index * cloudsim::kBlockSize, cloudsim::kBlockSize);
    EXPECT_EQ(res->body, expected);
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(expected.data()), expected.size(), digest);
    EXPECT_EQ(res->get_header_value("x-amz-Checksum"),
              Base64(std::string(reinterpret_cast<char*>(digest), sizeof digest)));
    EXPECT_EQ(res->get_header_value("x-amz-Checksum-Algorithm"), "SHA256");
    EXPECT_EQ(res->get_header_value("x-amz-Data-Length"), std::to_string(cloudsim::kBlockSize));
}

TEST_F(EndpointTest, BadTokensUnknownSnapshotsAndUntrustedClientsAreRefused) {
    auto wrong = SignedGet(BlockPath(kBigSnapshot, 3), TokenQuery(kBigSnapshot, 4));
    ASSERT_TRUE(wrong);
    EXPECT_EQ(wrong->status, 400);
    EXPECT_EQ(wrong->get_header_value("x-amzn-ErrorType"), "ValidationException");

    auto missing = SignedGet(BlockPath("snap-0000000000000dead", 0), TokenQuery("snap-0000000000000dead", 0));
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);
    EXPECT_EQ(missing->get_header_value("x-amzn-ErrorType"), "ResourceNotFoundException");
    EXPECT_EQ(nlohmann::json::parse(missing->body)["Reason"], "SNAPSHOT_NOT_FOUND");

    auto stranger = SignedGet(BlockPath(kBigSnapshot, 3), TokenQuery(kBigSnapshot, 3), "AKIAUNKNOWN000000001");
    ASSERT_TRUE(stranger);
    EXPECT_EQ(stranger->status, 403);
    EXPECT_EQ(stranger->get_header_value("x-amzn-ErrorType"), "UnrecognizedClientException");

    auto badSecret = SignedGet(BlockPath(kBigSnapshot, 3), TokenQuery(kBigSnapshot, 3), kAccessKey, "wrong");
    ASSERT_TRUE(badSecret);
    EXPECT_EQ(badSecret->get_header_value("x-amzn-ErrorType"), "SignatureDoesNotMatch");

    // A client that does not trust the throwaway CA cannot connect at all.
    httplib::SSLClient untrusting("localhost", Server().EbsPort());
    untrusting.set_ca_cert_path(env.BaseDir().c_str());
    untrusting.enable_server_certificate_verification(true);
    EXPECT_FALSE(untrusting.Get("/snapshots/x/blocks"));
}

TEST_F(EndpointTest, ListSnapshotBlocksPagesThroughEveryBlockWithItsToken) {
    std::vector<int64_t> seen;
    std::string next;
    int pages = 0;
    do {
        std::string query = "maxResults=100" + (next.empty() ? "" : "&pageToken=" + UriEncode(next, true));
        auto res = SignedGet(std::string("/snapshots/") + kBigSnapshot + "/blocks", query);
        ASSERT_TRUE(res);
        ASSERT_EQ(res->status, 200) << res->body;
        nlohmann::json page = nlohmann::json::parse(res->body);
        EXPECT_EQ(page["BlockSize"], 524288);
        EXPECT_EQ(page["VolumeSize"], 1);
        EXPECT_LE(page["Blocks"].size(), 100u);
        for (const auto& block : page["Blocks"]) {
            seen.push_back(block["BlockIndex"]);
            EXPECT_EQ(block["BlockToken"], cloudsim::BlockToken(kBigSnapshot, block["BlockIndex"]));
        }
        next = page.value("NextToken", "");
        ++pages;
    } while (!next.empty() && pages < 10);
    EXPECT_EQ(pages, 3);
    EXPECT_EQ(seen, cloud->SnapshotBlocks(kBigSnapshot));

    auto fromIndex = SignedGet(std::string("/snapshots/") + kBigSnapshot + "/blocks", "startingBlockIndex=240");
    ASSERT_TRUE(fromIndex);
    EXPECT_EQ(nlohmann::json::parse(fromIndex->body)["Blocks"].size(), 10u);

    auto tooSmall = SignedGet(std::string("/snapshots/") + kBigSnapshot + "/blocks", "maxResults=99");
    ASSERT_TRUE(tooSmall);
    EXPECT_EQ(tooSmall->status, 400);
    auto foreignPage = SignedGet(std::string("/snapshots/") + kLaterSnapshot + "/blocks",
                                 "pageToken=" + Hex(std::string(kBigSnapshot) + "#100"));
    ASSERT_TRUE(foreignPage);
    EXPECT_EQ(nlohmann::json::parse(foreignPage->body)["Reason"], "INVALID_PAGE_TOKEN");
}

TEST_F(EndpointTest, ListChangedBlocksNamesOnlyBlocksWhoseContentDiffers) {
    auto res = SignedGet(std::string("/snapshots/") + kLaterSnapshot + "/changedblocks",
                         std::string("firstSnapshotId=") + kBigSnapshot);
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200) << res->body;
    nlohmann::json changed = nlohmann::json::parse(res->body)["ChangedBlocks"];
    ASSERT_EQ(changed.size(), 241u);   // 10..249 dropped, 260 added
    EXPECT_EQ(changed.front()["BlockIndex"], 10);
    EXPECT_EQ(changed.front()["FirstBlockToken"], cloudsim::BlockToken(kBigSnapshot, 10));
    EXPECT_FALSE(changed.front().contains("SecondBlockToken"));
    EXPECT_EQ(changed.back()["BlockIndex"], 260);
    EXPECT_EQ(changed.back()["SecondBlockToken"], cloudsim::BlockToken(kLaterSnapshot, 260));
    EXPECT_FALSE(changed.back().contains("FirstBlockToken"));
}

TEST_F(EndpointTest, SnapshotsAreServedOnlyByTheirRegionsEndpoint) {
    hostRegion = signingRegion = "us-west-2";
    auto elsewhere = SignedGet(std::string("/snapshots/") + kBigSnapshot + "/blocks", "");
    ASSERT_TRUE(elsewhere);
    EXPECT_EQ(elsewhere->status, 404);
    EXPECT_EQ(elsewhere->get_header_value("x-amzn-ErrorType"), "ResourceNotFoundException");

    signingRegion = "us-east-1";
    auto misScoped = SignedGet(std::string("/snapshots/") + kBigSnapshot + "/blocks", "");
    ASSERT_TRUE(misScoped);
    EXPECT_EQ(misScoped->status, 403);
    EXPECT_EQ(misScoped->get_header_value("x-amzn-ErrorType"), "InvalidSignatureException");
}
