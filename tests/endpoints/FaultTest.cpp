// Every fault kind the endpoints inject, as a client observes it, on the nth
// or on every matching request.
#include <chrono>

#include "cloudsim/BlockToken.h"
#include "cloudsim/endpoints/Digest.h"
#include "endpoints/EndpointFixture.h"

using namespace endpoints_test;

namespace {

class FaultTest : public EndpointTest {
protected:
    httplib::Result GetBlock(int64_t index = 5) {
        return SignedGet(BlockPath(kBigSnapshot, index),
                         "blockToken=" + UriEncode(cloudsim::BlockToken(kBigSnapshot, index), true));
    }
};

}  // namespace

TEST_F(FaultTest, StatusFaultsHitTheNthOrEveryCall) {
    Server().Faults().Add({"GetSnapshotBlock", FaultKind::InternalError, 2, 0});
    EXPECT_EQ(GetBlock()->status, 200);
    EXPECT_EQ(GetBlock()->status, 500);
    EXPECT_EQ(GetBlock()->status, 200);

    Server().Faults().Clear();
    Server().Faults().Add({"GetSnapshotBlock", FaultKind::Unavailable, 0, 0});
    EXPECT_EQ(GetBlock()->status, 503);
    EXPECT_EQ(GetBlock()->status, 503);
    // Other operations are untouched by a rule naming one.
    EXPECT_EQ(SignedGet(std::string("/snapshots/") + kBigSnapshot + "/blocks", "")->status, 200);

    Server().Faults().Clear();
    Server().Faults().Add({"*", FaultKind::Throttle, 1, 0});
    EXPECT_EQ(GetBlock()->status, 400);
    Server().Faults().Add({"ListSnapshotBlocks", FaultKind::ExpiredToken, 1, 0});
    EXPECT_EQ(SignedGet(std::string("/snapshots/") + kBigSnapshot + "/blocks", "")->status, 403);

    Server().Faults().Add({"IpRanges", FaultKind::InternalError, 1, 0});
    EXPECT_EQ(Client(Server().IpRangesPort())->Get("/ip-ranges.json")->status, 500);
}

// Each answer as AWS gives it: the status, the x-amzn-ErrorType header (none
// from the load balancer in front) and the body's members.
TEST_F(FaultTest, StatusFaultsAnswerWithAwsTypesAndTexts) {
    const struct {
        FaultKind kind;
        int status;
        const char* type;
        const char* body;   // a part of the body
    } rows[] = {
        {FaultKind::InternalError, 500, "InternalServerException", R"("Message":"An internal error has occurred.")"},
        {FaultKind::BadGateway, 502, "", "<title>502 Bad Gateway</title>"},
        {FaultKind::Unavailable, 503, "ServiceUnavailableException", R"("Message":"Service Unavailable")"},
        {FaultKind::GatewayTimeout, 504, "", "<title>504 Gateway Time-out</title>"},
        {FaultKind::Throttle, 400, "ThrottlingException", R"("message":"Rate exceeded")"},
        {FaultKind::RequestThrottled, 400, "RequestThrottledException", R"("Reason":"RESOURCE_LEVEL_THROTTLE")"},
        {FaultKind::InvalidBlockToken, 400, "ValidationException", R"("Reason":"INVALID_BLOCK_TOKEN")"},
        {FaultKind::ExpiredToken, 403, "ExpiredTokenException",
         R"("message":"The security token included in the request is expired")"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.status);
        Server().Faults().Clear();
        Server().Faults().Add({"GetSnapshotBlock", row.kind, 1, 0});
        auto res = GetBlock();
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, row.status);
        EXPECT_EQ(res->has_header("x-amzn-ErrorType"), *row.type != '\0');
        EXPECT_EQ(res->get_header_value("x-amzn-ErrorType"), row.type);
        EXPECT_NE(res->body.find(row.body), std::string::npos) << res->body;
    }
}

TEST_F(FaultTest, BodyAndChecksumFaultsSpoilOnlyTheirAnswer) {
    Server().Faults().Add({"GetSnapshotBlock", FaultKind::ShortBody, 1, 0});
    Server().Faults().Add({"GetSnapshotBlock", FaultKind::WrongChecksum, 2, 0});
    Server().Faults().Add({"GetSnapshotBlock", FaultKind::MissingChecksum, 3, 0});
    Server().Faults().Add({"GetSnapshotBlock", FaultKind::ZeroChecksum, 4, 0});

    auto cut = GetBlock();
    EXPECT_FALSE(cut) << "a body shorter than its Content-Length must fail the read";

    auto spoiled = GetBlock();
    ASSERT_TRUE(spoiled);
    EXPECT_EQ(spoiled->body.size(), static_cast<size_t>(cloudsim::kBlockSize));
    EXPECT_TRUE(spoiled->has_header("x-amz-Checksum"));
    EXPECT_NE(spoiled->get_header_value("x-amz-Checksum"), Base64(Sha256(spoiled->body)));

    auto bare = GetBlock();
    ASSERT_TRUE(bare);
    EXPECT_FALSE(bare->has_header("x-amz-Checksum"));
    auto zeroClaimed = GetBlock();
    ASSERT_TRUE(zeroClaimed);
    EXPECT_EQ(zeroClaimed->get_header_value("x-amz-Checksum"),
              Base64(Sha256(std::string(static_cast<size_t>(cloudsim::kBlockSize), '\0'))));
    EXPECT_NE(zeroClaimed->body, std::string(static_cast<size_t>(cloudsim::kBlockSize), '\0'));
    auto clean = GetBlock();
    EXPECT_EQ(clean->get_header_value("x-amz-Checksum"), Base64(Sha256(clean->body)));
}

TEST_F(FaultTest, DelayOutlastsAClientsReadTimeoutThenAnswers) {
    Server().Faults().Add({"IpRanges", FaultKind::Delay, 1, 400});
    auto client = Client(Server().IpRangesPort());
    client->set_read_timeout(0, 100000);   // 100 ms
    EXPECT_FALSE(client->Get("/ip-ranges.json"));
    auto next = client->Get("/ip-ranges.json");
    ASSERT_TRUE(next);
    EXPECT_EQ(next->status, 200);

    Server().Faults().Add({"GetSnapshotBlock", FaultKind::Delay, 0, 200});
    auto start = std::chrono::steady_clock::now();
    auto slow = GetBlock();
    ASSERT_TRUE(slow);
    EXPECT_EQ(slow->status, 200);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
}
