// The signer's own rules, where they differ from a textbook signer or where
// the EBS direct requests depend on them.
#include <gtest/gtest.h>

#include "aws/AmazonRequestSigner.h"
#include "framework/Hashing.h"

using namespace AmazonDirectSnapshotAccessAPI;

namespace {

const AWSRequestTime kDay1{"20150830", "20150830T123600Z"};
const AWSRequestTime kDay1Later{"20150830", "20150830T235959Z"};
const AWSRequestTime kDay2{"20150831", "20150831T000001Z"};

AWSCredentials Credentials(const std::string& token = "") {
    AWSCredentials credentials;
    credentials.accessKeyId = "AKIDEXAMPLE";
    credentials.secretAccessKey = "wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY";
    credentials.sessionToken = token;
    return credentials;
}

CAmazonRequestSigner::Request BlockRead() {
    CAmazonRequestSigner::Request request;
    request.method = "GET";
    request.path = "/snapshots/snap-1/blocks/7";
    request.query = {{"blockToken", "AAB%2Bcd%3D%3D"}, {"Action", "GetSnapshotBlock"}, {"Version", "2019-11-02"}};
    return request;
}

std::string Line(const std::string& text, int index) {
    size_t start = 0;
    for (int i = 0; i < index; ++i) start = text.find('\n', start) + 1;
    return text.substr(start, text.find('\n', start) - start);
}

}  // namespace

TEST(SignerQuirks, TheCanonicalQueryCarriesEachValueAsTheUrlDoes) {
    const CAmazonRequestSigner::Request request = BlockRead();
    EXPECT_EQ("blockToken=AAB%2Bcd%3D%3D&Action=GetSnapshotBlock&Version=2019-11-02",
              CAmazonRequestSigner::formQueryString(request.query));
    // Sorted by bytes, so upper-case names come first.
    EXPECT_EQ("Action=GetSnapshotBlock&Version=2019-11-02&blockToken=AAB%2Bcd%3D%3D",
              Line(CAmazonRequestSigner::createCanonicalRequest(request), 2));
}

TEST(SignerQuirks, EqualNamesSortByValueAndNothingIsReencoded) {
    EXPECT_EQ("a%3D=2&a%3D=x%3D&b=1",
              CAmazonRequestSigner::formCanonicalQueryString({{"b", "1"}, {"a%3D", "x%3D"}, {"a%3D", "2"}}));
    EXPECT_EQ("", CAmazonRequestSigner::formCanonicalQueryString({}));
}

TEST(SignerQuirks, EmptyPathIsSignedAsSlashAndEmptyBodyWithTheFixedHash) {
    CAmazonRequestSigner::Request request;
    request.method = "GET";
    request.headers = {{"host", "h"}, {"x-amz-date", kDay1.requestDateTime}};
    EXPECT_EQ(std::string("GET\n/\n\nhost:h\nx-amz-date:20150830T123600Z\n\nhost;x-amz-date\n") +
                  CAmazonRequestSigner::kEmptyPayloadHash,
              CAmazonRequestSigner::createCanonicalRequest(request));
    EXPECT_EQ(KdcSHA256::HexDigest(""), CAmazonRequestSigner::kEmptyPayloadHash);
    EXPECT_EQ(KdcSHA256::HexDigest("abc"), CAmazonRequestSigner::formPayloadHash("abc"));
}

TEST(SignerQuirks, HeadersAreSignedInListOrderWithUntrimmedValues) {
    const std::vector<HttpHeader> headers = {{"x-b", " two "}, {"X-A", "one"}};
    EXPECT_EQ("x-b: two \nX-A:one\n", CAmazonRequestSigner::formCanonicalHeaders(headers));
    EXPECT_EQ("x-b;X-A", CAmazonRequestSigner::formHeadersListString(headers));
}

TEST(SignerQuirks, SessionTokenIsSentButNotSigned) {
    CAmazonRequestSigner signer;
    const std::vector<HttpHeader> headers = signer.formHttpHeaders(BlockRead(), "ebs.us-east-1.amazonaws.com", kDay1,
                                                                   "us-east-1", "ebs", Credentials("TOKEN123"));
    ASSERT_EQ(6u, headers.size());
    EXPECT_EQ("accept", headers[0].name);
    EXPECT_EQ("host", headers[1].name);
    EXPECT_EQ("x-amz-date", headers[2].name);
    EXPECT_EQ("authorization", headers[3].name);
    EXPECT_EQ("x-amz-security-token", headers[4].name);
    EXPECT_EQ("TOKEN123", headers[4].value);
    EXPECT_EQ("User-Agent", headers[5].name);
    EXPECT_NE(std::string::npos, headers[3].value.find("SignedHeaders=accept;host;x-amz-date, "));
    EXPECT_EQ(std::string::npos, headers[3].value.find("security-token"));

    // The token changes nothing in the signature.
    CAmazonRequestSigner other;
    const std::vector<HttpHeader> noToken = other.formHttpHeaders(BlockRead(), "ebs.us-east-1.amazonaws.com", kDay1,
                                                                  "us-east-1", "ebs", Credentials());
    ASSERT_EQ(5u, noToken.size());
    EXPECT_EQ(headers[3].value, noToken[3].value);
    EXPECT_EQ("User-Agent", noToken[4].name);
}

TEST(SignerQuirks, AuthorizationMatchesAnIndependentComposition) {
    CAmazonRequestSigner signer;
    CAmazonRequestSigner::Request request = BlockRead();
    request.headers = {{"accept", "application/json"}, {"host", "ebs.eu-west-1.amazonaws.com"},
                       {"x-amz-date", kDay1.requestDateTime}};
    const std::string value =
        signer.getAuthorizationHeaderValue(request, kDay1, "eu-west-1", "ebs", Credentials());
    // Key chain and signature over the framework's primitives directly.
    std::string key = KdcHash::HmacSHA256("AWS4" + Credentials().secretAccessKey, "20150830");
    for (const char* part : {"eu-west-1", "ebs", "aws4_request"}) key = KdcHash::HmacSHA256(key, part);
    const std::string sts = "AWS4-HMAC-SHA256\n20150830T123600Z\n20150830/eu-west-1/ebs/aws4_request\n" +
                            KdcSHA256::HexDigest(CAmazonRequestSigner::createCanonicalRequest(request));
    EXPECT_EQ("AWS4-HMAC-SHA256 Credential=AKIDEXAMPLE/20150830/eu-west-1/ebs/aws4_request, "
              "SignedHeaders=accept;host;x-amz-date, Signature=" +
                  KdcHash::HexEncode(KdcHash::HmacSHA256(key, sts)),
              value);
}

TEST(SignerQuirks, CachedKeyIsReusedOnTheSameDayAndRecomputedOnANewOne) {
    CAmazonRequestSigner signer;
    const CAmazonRequestSigner::Request request = BlockRead();
    const std::string first = signer.getAuthorizationHeaderValue(request, kDay1, "us-east-1", "ebs", Credentials());
    EXPECT_EQ(1u, signer.signatureKeyDerivations());
    EXPECT_EQ("20150830", signer.cachedSignatureKey().dateStamp);
    const std::string sameDay =
        signer.getAuthorizationHeaderValue(request, kDay1Later, "us-east-1", "ebs", Credentials());
    EXPECT_EQ(1u, signer.signatureKeyDerivations());
    EXPECT_NE(first, sameDay);  // new date-time, same key

    const std::string nextDay = signer.getAuthorizationHeaderValue(request, kDay2, "us-east-1", "ebs", Credentials());
    EXPECT_EQ(2u, signer.signatureKeyDerivations());
    EXPECT_EQ("20150831", signer.cachedSignatureKey().dateStamp);
    EXPECT_EQ(CAmazonRequestSigner::deriveSignatureKey(Credentials().secretAccessKey, "20150831", "us-east-1", "ebs"),
              signer.cachedSignatureKey().signingKey);
    // The reused key must be the one a fresh signer derives.
    CAmazonRequestSigner fresh;
    EXPECT_EQ(sameDay, fresh.getAuthorizationHeaderValue(request, kDay1Later, "us-east-1", "ebs", Credentials()));
}

TEST(SignerQuirks, CachedKeyIsRecomputedForANewRegionServiceOrSecret) {
    CAmazonRequestSigner signer;
    const std::string secret = Credentials().secretAccessKey;
    const std::string key = signer.getSignatureKey(secret, "20150830", "us-east-1", "ebs");
    EXPECT_EQ(key, signer.getSignatureKey(secret, "20150830", "us-east-1", "ebs"));
    EXPECT_EQ(1u, signer.signatureKeyDerivations());
    EXPECT_NE(key, signer.getSignatureKey(secret, "20150830", "us-west-2", "ebs"));
    EXPECT_EQ(2u, signer.signatureKeyDerivations());
    signer.getSignatureKey(secret, "20150830", "us-west-2", "s3");
    EXPECT_EQ(3u, signer.signatureKeyDerivations());
    signer.getSignatureKey("refreshed-secret", "20150830", "us-west-2", "s3");
    EXPECT_EQ(4u, signer.signatureKeyDerivations());
    EXPECT_EQ("refreshed-secret", signer.cachedSignatureKey().secretAccessKey);
    // Only one entry: going back derives again.
    EXPECT_EQ(key, signer.getSignatureKey(secret, "20150830", "us-east-1", "ebs"));
    EXPECT_EQ(5u, signer.signatureKeyDerivations());
}

TEST(SignerQuirks, RequestTimeIsFormattedInUtc) {
    const AWSRequestTime time = CAmazonRequestSigner::formRequestTime(1440938160);  // 2015-08-30 12:36:00 UTC
    EXPECT_EQ("20150830", time.dateStamp);
    EXPECT_EQ("20150830T123600Z", time.requestDateTime);
    EXPECT_EQ("20000101T000000Z", CAmazonRequestSigner::formRequestTime(946684800).requestDateTime);
}
