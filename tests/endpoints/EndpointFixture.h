#pragma once
// A simulated cloud (the demo seed plus two large snapshots sharing blocks)
// served by an EndpointServer over TLS with a throwaway CA, and clients that
// verify that CA and sign EBS requests.
#include <sys/stat.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include "cloudsim/Cloud.h"
#include "cloudsim/endpoints/EndpointServer.h"
#include "cloudsim/endpoints/SigV4.h"
#include "cloudsim/endpoints/TestCertificates.h"
#include "cloudsim/endpoints/TimeFormat.h"
#include "framework/Clock.h"
#include "support/DemoAccounts.h"
#include "support/TestEnv.h"

namespace endpoints_test {

using namespace cloudsim::endpoints;

constexpr const char* kAccessKey = demo::kSourceKey;
constexpr const char* kSecretKey = demo::kSourceSecret;
// Two snapshots of one volume: 250 blocks of one text; the later one keeps
// blocks 0-9 unchanged, drops the rest and adds block 260.
constexpr const char* kBigSnapshot = "snap-0e0d0000000000001";
constexpr const char* kLaterSnapshot = "snap-0e0d0000000000002";
// A snapshot of a volume created from kBigSnapshot: of the same lineage.
constexpr const char* kRestoredSnapshot = "snap-0e0d0000000000003";

inline std::string WithBigSnapshots(const std::string& seedText) {
    nlohmann::json seed = nlohmann::json::parse(seedText);
    nlohmann::json blocks = nlohmann::json::array();
    for (int i = 0; i < 250; ++i) blocks.push_back(i);
    auto snapshot = [](const std::string& id, const std::string& volume, const nlohmann::json& list) {
        return nlohmann::json{{"id", id}, {"account", demo::kSourceAccount}, {"region", "us-east-1"},
                              {"volumeId", volume}, {"sizeBytes", 1LL << 30}, {"state", "completed"},
                              {"data", {{"text", "endpoint pages"}, {"blocks", list}}}};
    };
    seed["snapshots"].push_back(snapshot(kBigSnapshot, "vol-0e0d0000000000001", blocks));
    seed["snapshots"].push_back(snapshot(kLaterSnapshot, "vol-0e0d0000000000001", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 260}));
    seed["volumes"].push_back({{"id", "vol-0e0d0000000000002"}, {"account", demo::kSourceAccount}, {"region", "us-east-1"},
                               {"zone", "us-east-1a"}, {"sizeBytes", 1LL << 30}, {"snapshotId", kBigSnapshot}});
    seed["snapshots"].push_back(snapshot(kRestoredSnapshot, "vol-0e0d0000000000002", {0, 1, 2}));
    return seed.dump();
}

class EndpointTest : public ::testing::Test {
protected:
    void SetUp() override { Start(MetadataOptions{}); }

    void Start(const MetadataOptions& metadata) { Start(metadata, true); }
    void StartPlainMetadata(const MetadataOptions& metadata) { Start(metadata, false); }

    void Start(const MetadataOptions& metadata, bool metadataOverTls) {
        m_server.reset();
        cloud = cloudsim::Cloud::InMemory(WithBigSnapshots(TestEnv::ReadFile(AMAZON_DEMO_SEED)));
        std::string folder = env.BaseDir() + "/certs";
        mkdir(folder.c_str(), 0700);
        certs = WriteTestCertificates(folder, EndpointDnsNames({"us-east-1", "us-west-2"}), EndpointIpAddresses());
        m_server = std::make_unique<EndpointServer>(cloud, EndpointOptions{certs.certFile, certs.keyFile, metadata, metadataOverTls});
    }

    EndpointServer& Server() { return *m_server; }

    std::unique_ptr<httplib::SSLClient> Client(int port) {
        auto client = std::make_unique<httplib::SSLClient>("localhost", port);
        client->set_ca_cert_path(certs.caFile.c_str());
        client->enable_server_certificate_verification(true);
        return client;
    }

    // A GET to the EBS endpoint signed as a client would sign it.
    httplib::Result SignedGet(const std::string& path, const std::string& rawQuery,
                              const std::string& accessKey = kAccessKey, const std::string& secret = kSecretKey,
                              const std::string& token = "") {
        std::string amzDate = AmzDate(FwClock::NowMs());
        std::string host = "ebs." + hostRegion + ".amazonaws.com";
        WireRequest wire{"GET", path, rawQuery, {{"host", host}, {"x-amz-date", amzDate}}, ""};
        std::vector<std::string> signedHeaders{"host", "x-amz-date"};
        if (!token.empty()) {
            wire.headers.emplace_back("x-amz-security-token", token);
            signedHeaders.push_back("x-amz-security-token");
        }
        std::string scope = amzDate.substr(0, 8) + "/" + signingRegion + "/ebs/aws4_request";
        std::string list;
        for (const auto& h : signedHeaders) list += (list.empty() ? "" : ";") + h;
        std::string signature = Signature(SigningKey(secret, amzDate.substr(0, 8), signingRegion, "ebs"),
                                          StringToSign(amzDate, scope, CanonicalRequest(wire, signedHeaders, true)));
        httplib::Headers headers;
        for (const auto& [name, value] : wire.headers) headers.emplace(name, value);
        headers.emplace("Authorization", "AWS4-HMAC-SHA256 Credential=" + accessKey + "/" + scope +
                                             ", SignedHeaders=" + list + ", Signature=" + signature);
        return Client(Server().EbsPort())->Get((path + (rawQuery.empty() ? "" : "?" + rawQuery)).c_str(), headers);
    }

    TestEnv env;
    std::string hostRegion = "us-east-1";      // of the EBS host name SignedGet sends
    std::string signingRegion = "us-east-1";   // of its credential scope
    std::shared_ptr<cloudsim::Cloud> cloud;
    CertificateFiles certs;

private:
    std::unique_ptr<EndpointServer> m_server;
};

// An answer as "status type reason": the x-amzn-ErrorType header and the
// body's Reason member where there are any.
inline std::string Answer(const httplib::Result& res) {
    if (!res) return "no answer: " + httplib::to_string(res.error());
    std::string out = std::to_string(res->status);
    if (res->has_header("x-amzn-ErrorType")) out += " " + res->get_header_value("x-amzn-ErrorType");
    const nlohmann::json body = nlohmann::json::parse(res->body, nullptr, false);
    if (body.is_object() && body.contains("Reason")) out += " " + body["Reason"].get<std::string>();
    return out;
}

inline std::string BlockPath(const std::string& snapshot, int64_t index) {
    return "/snapshots/" + snapshot + "/blocks/" + std::to_string(index);
}

}  // namespace endpoints_test
