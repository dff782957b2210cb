// The signed EBS direct connection against the simulated endpoint: which
// failures it retries and how long it waits, expired tokens and credential
// refreshes, the caller's download buffer, checksums, endpoint names, and a
// signature that an independent signer agrees with.
#include <algorithm>
#include <numeric>

#include "ebsdirect/DirectFixture.h"
#include "ebsdirect/ZeroBlockCheck.h"
#include "framework/Base64.h"
#include "framework/Hashing.h"
#include "support/BotocoreSigned.h"

using namespace ebsdirect_test;

namespace {

// Notes the virtual time of every request it sends.
class RecordingConnection : public CAmazonRESTAPIConnection {
public:
    std::vector<int64_t> sentAtMs;

protected:
    void LogRequest(HTTP_REQ_TYPE type, const std::string& url, const std::string& body) override {
        sentAtMs.push_back(FwClock::NowMs());
        CAmazonRESTAPIConnection::LogRequest(type, url, body);
    }
};

std::vector<int64_t> Gaps(const std::vector<int64_t>& times) {
    std::vector<int64_t> gaps;
    for (size_t i = 1; i < times.size(); ++i) gaps.push_back(times[i] - times[i - 1]);
    return gaps;
}

const std::vector<int64_t> kBackOff{500, 1000, 2000, 3000, 3000, 3000, 3000, 3000, 3000, 3000};

// Ten waits, each between half and all of its capped step, spread rather
// than the bare steps, and nothing slept beyond them.
void ExpectBackOff(const std::vector<int64_t>& sentAtMs, int64_t sleptMs) {
    const std::vector<int64_t> gaps = Gaps(sentAtMs);
    ASSERT_EQ(kBackOff.size(), gaps.size());
    for (size_t i = 0; i < gaps.size(); ++i) {
        EXPECT_GE(gaps[i], kBackOff[i] / 2) << "wait " << i;
        EXPECT_LE(gaps[i], kBackOff[i]) << "wait " << i;
    }
    EXPECT_NE(kBackOff, gaps);
    EXPECT_EQ(std::accumulate(gaps.begin(), gaps.end(), int64_t{0}), sleptMs) << "no wait after the last attempt";
}

struct ConnectionTest : DirectEndpointTest {
    AWSConnectionConfiguration config{10, true};
    std::vector<unsigned char> buffer = std::vector<unsigned char>(kBlock);
    uint64_t received = 0;
    int refreshes = 0;

    std::unique_ptr<RecordingConnection> Connect(const AWSCredentials& credentials = {kAccessKey, kSecretKey, "", 0},
                                                 RefreshCredentialsCallBackType refresh = nullptr) {
        auto connection = std::make_unique<RecordingConnection>();
        EXPECT_TRUE(connection->initialize(credentials, std::move(refresh), this, &config));
        return connection;
    }

    // An empty token stands for the block's own.
    bool GetBlock(RecordingConnection& connection, int64_t index, uint64_t bufferSize = kBlock,
                  std::string token = "") {
        if (token.empty()) token = cloudsim::BlockToken(kBigSnapshot, index);
        AWSRequestOptions options;
        options.region = kRegion;
        options.service = "ebs";
        options.downloadBuffer = buffer.data();
        options.downloadBufferSize = bufferSize;
        options.queryParameters = {{"blockToken", token}, {"Action", "GetSnapshotBlock"}, {"Version", "2020-05-11"}};
        std::string response;
        const bool ok = connection.get(BlockPath(kBigSnapshot, index), response, &options);
        received = options.bytesReceived;
        return ok;
    }

    bool ReceivedBlock(int64_t index) {
        return received == static_cast<uint64_t>(kBlock) &&
               std::string(buffer.begin(), buffer.end()) == cloud->ReadSnapshot(kBigSnapshot, index * kBlock, kBlock);
    }
};

}  // namespace

TEST_F(ConnectionTest, TenRetriesWaitTheCappedJitteredBackOffAndAnEleventhFailureEndsIt) {
    // Ten failures, then an answer: the tenth retry is still allowed.
    for (int nth = 1; nth <= 10; ++nth) Server().Faults().Add({"GetSnapshotBlock", FaultKind::InternalError, nth, 0});
    auto recovering = Connect();
    ASSERT_TRUE(GetBlock(*recovering, 4));
    EXPECT_TRUE(ReceivedBlock(4));
    ExpectBackOff(recovering->sentAtMs, env.Clock().TotalSleptMs());

    Server().Faults().Clear();
    Server().Faults().Add({"GetSnapshotBlock", FaultKind::InternalError, 0, 0});
    const int64_t sleptBefore = env.Clock().TotalSleptMs();
    auto failing = Connect();
    EXPECT_FALSE(GetBlock(*failing, 4));
    EXPECT_EQ(0u, received);
    ExpectBackOff(failing->sentAtMs, env.Clock().TotalSleptMs() - sleptBefore);
    EXPECT_EQ(22, BlockCalls());
    EXPECT_EQ(1, Logged("Maximum number of retries [10] attempted."));
}

TEST_F(ConnectionTest, TransientFailuresAreRetriedAndOthersEndAtOnce) {
    enum Spoil { kFault, kRefused, kBadSecret, kPaddedToken };
    struct Row {
        const char* name;
        Spoil spoil;
        FaultKind fault;
        bool retried;
        const char* type;   // the error type the connection read from the last answer
    };
    const Row rows[] = {
        {"500", kFault, FaultKind::InternalError, true, "InternalServerException"},
        {"502 from the load balancer", kFault, FaultKind::BadGateway, true, ""},
        {"503", kFault, FaultKind::Unavailable, true, "ServiceUnavailableException"},
        {"504 from the load balancer", kFault, FaultKind::GatewayTimeout, true, ""},
        {"400 account throttled", kFault, FaultKind::Throttle, true, "ThrottlingException"},
        {"400 snapshot throttled", kFault, FaultKind::RequestThrottled, true, "RequestThrottledException"},
        {"wrong checksum", kFault, FaultKind::WrongChecksum, true, ""},
        {"missing checksum, checksums validated", kFault, FaultKind::MissingChecksum, true, ""},
        {"checksum of zeros on a block that is not", kFault, FaultKind::ZeroChecksum, true, ""},
        {"body cut short", kFault, FaultKind::ShortBody, true, ""},
        {"connection refused", kRefused, FaultKind::InternalError, true, ""},
        {"400 invalid block token", kFault, FaultKind::InvalidBlockToken, false, "ValidationException"},
        {"403 signature does not match", kBadSecret, FaultKind::InternalError, false, "SignatureDoesNotMatch"},
        // Signed as the URL carries "=", it passes the signature check and
        // is refused as a token that names no block.
        {"400 padded token", kPaddedToken, FaultKind::InternalError, false, "ValidationException"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Server().Faults().Clear();
        if (row.spoil == kFault) Server().Faults().Add({"GetSnapshotBlock", row.fault, 0, 0});
        Route(row.spoil == kRefused ? ClosedPort() : Server().EbsPort());
        const int callsBefore = BlockCalls();
        const int64_t sleptBefore = env.Clock().TotalSleptMs();
        auto connection = Connect({kAccessKey, row.spoil == kBadSecret ? "not-the-secret" : kSecretKey, "", 0});
        EXPECT_FALSE(GetBlock(*connection, 9, kBlock,
                              row.spoil == kPaddedToken ? cloudsim::BlockToken(kBigSnapshot, 9) + "=" : ""));
        EXPECT_EQ(row.type, connection->lastError().type);
        const int64_t slept = env.Clock().TotalSleptMs() - sleptBefore;
        if (row.retried) {
            ExpectBackOff(connection->sentAtMs, slept);
        } else {
            EXPECT_EQ(1u, connection->sentAtMs.size());
            EXPECT_EQ(0, slept);
        }
        // Requests that got past the signature check reached the fault rules.
        const bool signedWell = row.spoil == kFault || row.spoil == kPaddedToken;
        EXPECT_EQ(signedWell ? static_cast<int>(connection->sentAtMs.size()) : 0, BlockCalls() - callsBefore);
    }
}

TEST_F(ConnectionTest, ExpiredTokenIsRefreshedAtOnceAndAtMostThreeTimesInARow) {
    // The service keeps calling every token expired: three refreshes, then
    // the connection gives up without waiting.
    Server().Faults().Add({"GetSnapshotBlock", FaultKind::ExpiredToken, 0, 0});
    auto stubborn = Connect({kAccessKey, kSecretKey, "", 0}, [this](void* owner, AWSCredentials&) {
        EXPECT_EQ(this, owner);
        ++refreshes;
        return true;
    });
    EXPECT_FALSE(GetBlock(*stubborn, 3));
    EXPECT_EQ(3, refreshes);
    EXPECT_EQ(4u, stubborn->sentAtMs.size());
    EXPECT_EQ(1, Logged("Security token still expired after [3] credential refreshes."));

    // Without a way to refresh, one answer ends it.
    auto noRefresh = Connect();
    EXPECT_FALSE(GetBlock(*noRefresh, 3));
    EXPECT_EQ(1u, noRefresh->sentAtMs.size());
    EXPECT_EQ(0, env.Clock().TotalSleptMs());

    // A session that really expired: the refreshed keys sign the retry.
    Server().Faults().Clear();
    const auto first = Server().Credentials().IssueSession(kSourceAccount, 60 * 1000);
    refreshes = 0;
    std::string freshKey;
    auto session = Connect({first.accessKey, first.secretKey, first.token, FwClock::NowSec()},
                           [&](void*, AWSCredentials& credentials) {
                               ++refreshes;
                               const auto fresh = Server().Credentials().IssueSession(kSourceAccount, 3600 * 1000);
                               freshKey = fresh.accessKey;
                               credentials = {fresh.accessKey, fresh.secretKey, fresh.token, FwClock::NowSec()};
                               return true;
                           });
    env.Clock().AdvanceMs(61 * 1000);
    ASSERT_TRUE(GetBlock(*session, 3));
    EXPECT_TRUE(ReceivedBlock(3));
    EXPECT_EQ(1, refreshes);
    EXPECT_EQ(2u, session->sentAtMs.size());
    EXPECT_EQ(freshKey, session->credentials().accessKeyId);
    EXPECT_EQ(0, env.Clock().TotalSleptMs());
}

TEST_F(ConnectionTest, BodyLargerThanTheBufferFailsWithoutRetry) {
    auto connection = Connect();
    EXPECT_FALSE(GetBlock(*connection, 2, 4096));
    EXPECT_EQ(0u, received);
    EXPECT_EQ(1, BlockCalls());
    EXPECT_EQ(0, env.Clock().TotalSleptMs());
    EXPECT_EQ(1, Logged("Dowload buffer overflow. BufferSize: [4096]"));
}

TEST_F(ConnectionTest, AListedBlockOfZerosPassesItsChecksumAtTheFirstAnswer) {
    const int64_t index = 300;   // beyond the snapshot's text blocks
    cloud->Write([&](cloudsim::State& s) {
        cloudsim::BlockMap::Entries entries(s.snapshots.at(kBigSnapshot).blocks.begin(),
                                            s.snapshots.at(kBigSnapshot).blocks.end());
        entries[index] = cloudsim::ZeroBlockId();
        s.snapshots.at(kBigSnapshot).blocks = cloudsim::BlockMap(std::move(entries));
    });
    std::fill(buffer.begin(), buffer.end(), 0xff);
    auto connection = Connect();
    ASSERT_TRUE(GetBlock(*connection, index));
    EXPECT_TRUE(ReceivedBlock(index));
    EXPECT_EQ(1, BlockCalls());
    EXPECT_EQ(0, Logged("Checksum validation failed"));
}

// What a block announced as zeros is checked against (the bytes are scanned
// by FwBytes::IsAllZero, tested with the framework).
TEST(ZeroBlockCheck, TheChecksumIsTheHashOfZeros) {
    const std::vector<unsigned char> block(kEbsBlockBytes);
    std::string expected;
    ASSERT_TRUE(KdcBase64::Encode(KdcSHA256::Digest(block.data(), block.size()), expected));
    EXPECT_EQ(expected, ZeroBlockChecksum());
}

TEST(ConnectionEndpoint, ChinaRegionsGetTheirDomainAndIamHasNoRegion) {
    const struct {
        const char* region;
        const char* service;
        const char* host;
    } rows[] = {
        {"us-east-1", "ebs", "ebs.us-east-1.amazonaws.com"},
        {"us-gov-west-1", "ebs", "ebs.us-gov-west-1.amazonaws.com"},
        {"cn-north-1", "ebs", "ebs.cn-north-1.amazonaws.com.cn"},
        {"CN-Northwest-1", "ebs", "ebs.CN-Northwest-1.amazonaws.com.cn"},
        {"eu-cn-1", "ebs", "ebs.eu-cn-1.amazonaws.com"},
        {"cn", "ebs", "ebs.cn.amazonaws.com"},
        {"us-east-1", "iam", "iam.amazonaws.com"},
        {"cn-north-1", "iam", "iam.amazonaws.com.cn"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.host, CAmazonRESTAPIConnection::getAPIEndpoint(row.region, row.service))
            << row.region << " " << row.service;
}

TEST(ConnectionSignature, AuthorizationEqualsBotocoresForTokensWithPlusSlashAndEquals) {
    TestEnv env;   // the signer logs
    const std::string blocks = std::string("/snapshots/") + kBigSnapshot + "/blocks";
    const struct {
        const char* region;
        std::string path;
        int64_t epoch;
        std::vector<std::pair<std::string, std::string>> query;   // unencoded; the first holds the token
    } rows[] = {
        {"us-east-1", blocks + "/7", 1798761600,   // 2027-01-01 00:00:00
         {{"blockToken", "AAUBAcuWqOCnDNuKle11s7IIX6jp6FYcC/q8oT93913HhvLvA+3JRrSybp/0=="},
          {"Action", "GetSnapshotBlock"}, {"Version", "2020-05-11"}}},
        {"eu-west-1", "/snapshots/snap-0a1b2c3d4e5fb0002/blocks/16383", 1440979199,   // 2015-08-30 23:59:59
         {{"blockToken", "AAUBARGC+aufCqBRZC8tEkPYGGkSv3vqvOjJ2xKDi3ljD/FiytUxBLXYgTmkid="},
          {"Action", "GetSnapshotBlock"}, {"Version", "2020-05-11"}}},
        {"cn-north-1", "/snapshots/snap-0123456789abcdef0/blocks", 1700000000,
         {{"pageToken", "AAUBAZ/Jd6u+Xy9d3Nx8mzZyPqG0oVh7C1Ag3kS5tUmiW0ts/+RkYFcw=="}, {"maxResults", "100"}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        for (char c : {'+', '/', '='}) ASSERT_NE(std::string::npos, row.query[0].second.find(c));
        std::vector<HttpQueryParameter> encoded;
        for (const auto& [name, value] : row.query)
            encoded.push_back({KDLibCurl::UrlEncode(name), KDLibCurl::UrlEncode(value)});
        const std::string host = CAmazonRESTAPIConnection::getAPIEndpoint(row.region, "ebs");

        const BotocoreSigned expected =
            SignWithBotocore(kAccessKey, kSecretKey, row.region, host, row.path, row.epoch, row.query);
        if (expected.target.empty()) GTEST_SKIP() << "python3 with botocore is not available";
        CAmazonRequestSigner signer;
        const auto headers = signer.formHttpHeaders({"GET", row.path, encoded, {}, ""}, host,
                                                    CAmazonRequestSigner::formRequestTime(row.epoch), row.region,
                                                    "ebs", {kAccessKey, kSecretKey, "", 0});
        ASSERT_GE(headers.size(), 4u);
        EXPECT_EQ("authorization", headers[3].name);
        EXPECT_EQ(expected.Header("Authorization"), headers[3].value);
    }
}
