// The instance metadata service's credentials (IMDSv2, and IMDSv1 when
// tokens are refused), their expiry on the framework clock as the EBS
// endpoint sees it, and the IP ranges document.
#include <set>

#include "cloudsim/BlockToken.h"
#include "endpoints/EndpointFixture.h"

using namespace endpoints_test;

namespace {

constexpr const char* kCredentialsPath = "/latest/meta-data/iam/security-credentials/";

std::string TokenQuery(int64_t index) {
    return "blockToken=" + UriEncode(cloudsim::BlockToken(kBigSnapshot, index), true);
}

}  // namespace

TEST_F(EndpointTest, Imdsv2CredentialsSignEbsRequestsUntilTheyExpire) {
    MetadataOptions options;
    options.roleName = "ProxyRole";
    options.credentialLifetimeMs = 3600 * 1000;
    options.requireTokens = true;
    Start(options);
    auto imds = Client(Server().MetadataPort());

    EXPECT_EQ(imds->Get(kCredentialsPath)->status, 401);   // tokens required, none sent
    EXPECT_EQ(imds->Put("/latest/api/token", "", "text/plain")->status, 400);  // no TTL
    auto token = imds->Put("/latest/api/token", {{"X-aws-ec2-metadata-token-ttl-seconds", "60"}}, "", "text/plain");
    ASSERT_TRUE(token);
    ASSERT_EQ(token->status, 200);
    httplib::Headers withToken{{"X-aws-ec2-metadata-token", token->body}};
    auto role = imds->Get(kCredentialsPath, withToken);
    ASSERT_EQ(role->status, 200);
    EXPECT_EQ(role->body, "ProxyRole");
    auto creds = imds->Get((kCredentialsPath + role->body).c_str(), withToken);
    ASSERT_EQ(creds->status, 200);
    nlohmann::json c = nlohmann::json::parse(creds->body);
    EXPECT_EQ(c["Code"], "Success");
    EXPECT_EQ(c["Expiration"], Iso8601(FwClock::NowMs() + 3600 * 1000));

    auto ok = SignedGet(BlockPath(kBigSnapshot, 2), TokenQuery(2), c["AccessKeyId"], c["SecretAccessKey"], c["Token"]);
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->status, 200) << ok->body;

    env.Clock().AdvanceMs(61 * 1000);   // the metadata token's TTL has passed
    EXPECT_EQ(imds->Get(kCredentialsPath, withToken)->status, 401);

    env.Clock().AdvanceMs(3600 * 1000);  // and the credentials' lifetime
    auto expired =
        SignedGet(BlockPath(kBigSnapshot, 2), TokenQuery(2), c["AccessKeyId"], c["SecretAccessKey"], c["Token"]);
    ASSERT_EQ("403 ExpiredTokenException", Answer(expired));
    EXPECT_EQ(expired->body, R"({"message":"The security token included in the request is expired"})");

    // A new token gets fresh credentials that work again.
    token = imds->Put("/latest/api/token", {{"X-aws-ec2-metadata-token-ttl-seconds", "60"}}, "", "text/plain");
    nlohmann::json fresh = nlohmann::json::parse(
        imds->Get((kCredentialsPath + role->body).c_str(), {{"X-aws-ec2-metadata-token", token->body}})->body);
    EXPECT_NE(fresh["AccessKeyId"], c["AccessKeyId"]);
    auto again = SignedGet(BlockPath(kBigSnapshot, 2), TokenQuery(2), fresh["AccessKeyId"],
                           fresh["SecretAccessKey"], fresh["Token"]);
    EXPECT_EQ(again->status, 200);
}

TEST_F(EndpointTest, RefusedTokensLeaveImdsv1OverPlainHttp) {
    MetadataOptions options;
    options.refuseTokens = true;
    StartPlainMetadata(options);
    httplib::Client plain("127.0.0.1", Server().MetadataPort());
    auto* imds = &plain;
    auto token = imds->Put("/latest/api/token", {{"X-aws-ec2-metadata-token-ttl-seconds", "21600"}}, "", "text/plain");
    ASSERT_TRUE(token);
    EXPECT_EQ(token->status, 403);
    EXPECT_EQ(Server().Metadata().V1Requests(), 0);
    auto role = imds->Get(kCredentialsPath);
    ASSERT_EQ(role->status, 200);
    auto creds = imds->Get((kCredentialsPath + role->body).c_str());
    ASSERT_EQ(creds->status, 200);
    EXPECT_FALSE(nlohmann::json::parse(creds->body)["Token"].get<std::string>().empty());
    EXPECT_EQ(Server().Metadata().V1Requests(), 2);
    EXPECT_EQ(imds->Get((std::string(kCredentialsPath) + "OtherRole").c_str())->status, 404);
}

TEST_F(EndpointTest, IpRangesListAmazonAndEc2PrefixesForEverySimulatedRegion) {
    auto res = Client(Server().IpRangesPort())->Get("/ip-ranges.json");
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200);
    nlohmann::json doc = nlohmann::json::parse(res->body);
    EXPECT_EQ(doc["syncToken"], std::to_string(FwClock::NowSec()));
    EXPECT_EQ(doc["createDate"], IpRangesDate(FwClock::NowMs()));
    std::set<std::string> seen;
    for (const auto& p : doc["prefixes"]) seen.insert(p["region"].get<std::string>() + "/" + p["service"].get<std::string>());
    EXPECT_EQ(seen, (std::set<std::string>{"us-east-1/AMAZON", "us-east-1/EC2", "us-west-2/AMAZON", "us-west-2/EC2"}));
}
