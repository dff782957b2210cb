// AWS's published Signature Version 4 vectors, replayed through the server's
// verifier: each case's signed request must yield the published canonical
// request, string to sign and signature, and be accepted as a whole.
#include <algorithm>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "cloudsim/endpoints/RequestVerifier.h"
#include "cloudsim/endpoints/TimeFormat.h"
#include "framework/Clock.h"
#include "support/TestEnv.h"
#include "support/SigV4Suite.h"

using namespace sigv4_suite;
using namespace cloudsim::endpoints;

namespace {

// The suite's request files: request line, headers (continuation lines
// start with white space), blank line, body.
WireRequest ParseRequestFile(const std::string& text) {
    WireRequest wire;
    std::istringstream in(text);
    std::string line;
    std::getline(in, line);
    size_t sp = line.find(' ');
    size_t proto = line.rfind(" HTTP/");
    wire.method = line.substr(0, sp);
    std::string target = line.substr(sp + 1, proto - sp - 1);
    size_t q = target.find('?');
    wire.path = target.substr(0, q);
    if (q != std::string::npos) wire.rawQuery = target.substr(q + 1);
    while (std::getline(in, line) && !line.empty()) {
        if ((line[0] == ' ' || line[0] == '\t') && !wire.headers.empty()) {
            wire.headers.back().second += "\n" + line;
            continue;
        }
        size_t colon = line.find(':');
        wire.headers.emplace_back(line.substr(0, colon), line.substr(colon + 1));
    }
    std::stringstream rest;
    rest << in.rdbuf();
    wire.body = rest.str();
    return wire;
}


}  // namespace

// Every case is checked in its header-signed form. The suite's query-signed
// (presigned URL) forms are not replayed: the EBS endpoints, like the
// clients that call them, authenticate with the Authorization header only.
TEST(SigV4Suite, EveryHeaderSignedCaseReproducesAndVerifies) {
    TestEnv env;
    std::vector<std::string> names = CaseNames();
    ASSERT_GE(names.size(), 30u) << "suite missing under " << kSuite;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        std::string dir = kSuite + "/" + name + "/";
        nlohmann::json context = nlohmann::json::parse(Slurp(dir + "context.json"));
        WireRequest signedRequest = ParseRequestFile(Slurp(dir + "header-signed-request.txt"));
        Authorization auth;
        ASSERT_TRUE(ParseAuthorization(HeaderValue(signedRequest.headers, "Authorization"), auth));
        bool normalize = context["normalize"].get<bool>();

        std::string canonical = CanonicalRequest(signedRequest, auth.signedHeaders, normalize);
        EXPECT_EQ(canonical, Slurp(dir + "header-canonical-request.txt"));
        std::string amzDate = HeaderValue(signedRequest.headers, "X-Amz-Date");
        std::string toSign = StringToSign(amzDate, auth.Scope(), canonical);
        EXPECT_EQ(toSign, Slurp(dir + "header-string-to-sign.txt"));
        const auto& creds = context["credentials"];
        std::string secret = creds["secret_access_key"];
        EXPECT_EQ(Signature(SigningKey(secret, auth.date, auth.region, auth.service), toSign),
                  Slurp(dir + "header-signature.txt"));

        int64_t signedAt = 0;
        ASSERT_TRUE(ParseAmzDate(amzDate, signedAt));
        FwClock::Set(std::make_shared<VirtualClock>(signedAt + 60000));
        CredentialStore store(nullptr);
        store.Add({creds["access_key_id"], secret, creds.value("token", ""), "111122223333", 0});
        RequestVerifier verifier(store, "service", normalize);
        EXPECT_FALSE(verifier.Verify(signedRequest)) << verifier.Verify(signedRequest).Body();

        // Changing a signed part (the method) must break the signature.
        WireRequest tampered = signedRequest;
        tampered.method = tampered.method == "GET" ? "POST" : "GET";
        EXPECT_EQ(verifier.Verify(tampered).type, "SignatureDoesNotMatch");
    }
}

TEST(SigV4Verifier, RejectsUnknownKeysStaleDatesWrongTokensAndOtherServices) {
    TestEnv env;
    std::string dir = kSuite + "/get-vanilla-with-session-token/";
    WireRequest request = ParseRequestFile(Slurp(dir + "header-signed-request.txt"));
    nlohmann::json creds = nlohmann::json::parse(Slurp(dir + "context.json"))["credentials"];
    int64_t signedAt = 0;
    ASSERT_TRUE(ParseAmzDate(HeaderValue(request.headers, "X-Amz-Date"), signedAt));
    auto clock = std::make_shared<VirtualClock>(signedAt);
    FwClock::Set(clock);

    CredentialStore empty(nullptr);
    EXPECT_EQ(RequestVerifier(empty, "service").Verify(request).type, "UnrecognizedClientException");

    CredentialStore store(nullptr);
    store.Add({creds["access_key_id"], creds["secret_access_key"], "another-token", "1", 0});
    EXPECT_EQ(RequestVerifier(store, "service").Verify(request).type, "UnrecognizedClientException");

    store.Add({creds["access_key_id"], creds["secret_access_key"], creds["token"], "1", signedAt + 1000});
    RequestVerifier verifier(store, "service");
    EXPECT_FALSE(verifier.Verify(request));
    EXPECT_EQ(RequestVerifier(store, "ebs").Verify(request).type, "SignatureDoesNotMatch");

    clock->AdvanceMs(1000);
    AwsError expired = verifier.Verify(request);
    EXPECT_EQ(expired.status, 403);
    EXPECT_EQ(expired.type, "ExpiredTokenException");
    EXPECT_EQ(expired.Body(), R"({"message":"The security token included in the request is expired"})");

    store.Add({creds["access_key_id"], creds["secret_access_key"], creds["token"], "1", 0});
    clock->AdvanceMs(15 * 60 * 1000);   // 15 min + 1 s after signing
    EXPECT_EQ(verifier.Verify(request).type, "InvalidSignatureException");

    WireRequest unsigned_ = request;
    unsigned_.headers.erase(std::remove_if(unsigned_.headers.begin(), unsigned_.headers.end(),
                                           [](const auto& h) { return h.first == "Authorization"; }),
                            unsigned_.headers.end());
    EXPECT_EQ(verifier.Verify(unsigned_).type, "MissingAuthenticationTokenException");
}
