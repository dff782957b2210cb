#pragma once
// Private to the wire backend: AWS's Query protocol (EC2, STS, IAM): a signed
// form POST of Action, Version and the parameters, answered in XML; the
// JSON 1.1 protocol (KMS, SSM): a signed POST of a JSON object naming the
// operation in X-Amz-Target; and the signed REST requests of the EBS direct
// APIs (JSON) and S3 (XML, with the payload's hash signed). Every
// call is retried as WireRetry.h says; after the last attempt it fails with
// AWS's own "<Code>: <Message>" from the error body, unchanged.
//
// Not thread-safe: a client serves one backend object.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include "aws/AmazonRequestSigner.h"
#include "aws/AmazonRequestSigning.h"
#include "bridge/wire/WireHttp.h"
#include "bridge/wire/WireRetry.h"

namespace bridgeimpl BRIDGE_INTERNAL {
namespace wire {

using QueryParams = std::vector<std::pair<std::string, std::string>>;

constexpr const char kEc2Version[] = "2016-11-15";

// The "<Code>: <Message>" of an AWS error body: EC2's <Response><Errors>,
// the <ErrorResponse> of STS and IAM, and the JSON of the REST services
// (the code from their x-amzn-ErrorType header, errorType, when given); for
// a body that is none of them, "HTTP<status>: " and the start of the body.
std::string ErrorText(long status, const std::string& body, std::string* code = nullptr,
                      const std::string& errorType = std::string());

// The base64 SHA-256 of data: S3's content checksums and the EBS direct
// APIs' block checksums.
std::string Sha256Base64(const std::string& data);

// The endpoint host of a service in a region ("ec2.us-east-1.amazonaws.com").
std::string EndpointHost(const std::string& service, const std::string& region);

class QueryClient {
public:
    QueryClient(std::unique_ptr<Transport> transport, RetryPolicy policy);

    void SetCredentials(const AmazonDirectSnapshotAccessAPI::AWSCredentials& credentials) { m_credentials = credentials; }
    const AmazonDirectSnapshotAccessAPI::AWSCredentials& Credentials() const { return m_credentials; }

    // One action; the parsed answer in out. version: the API version
    // ("2016-11-15" for EC2, "2011-06-15" for STS).
    bool Call(const std::string& service, const std::string& version, const std::string& region,
              const std::string& action, const QueryParams& params, pugi::xml_document& out, std::string& error,
              const std::string& host = std::string());

    // Every page of a listing: the action again with NextToken while the
    // answer carries one, each answer's root element handed to onPage (which
    // may fail the listing). maxResults > 0 asks for pages of that size.
    using PageFn = std::function<bool(const pugi::xml_node& response, std::string& error)>;
    bool CallAllPages(const std::string& service, const std::string& version, const std::string& region,
                      const std::string& action, const QueryParams& params, int maxResults, const PageFn& onPage,
                      std::string& error);

    // A presigned GET of one Query action (the authorization in the query
    // string, valid for expiresSeconds), signed for region: what EC2 in
    // another region fetches to act for these credentials, as CopySnapshot's
    // PresignedUrl. params as for Call.
    std::string PresignedQuery(const std::string& service, const std::string& version, const std::string& region,
                               const std::string& action, const QueryParams& params, int expiresSeconds) const;

    // A signed GET of a REST-JSON service (the EBS direct APIs); the body of
    // the answer in body.
    bool Get(const std::string& service, const std::string& region, const std::string& path,
             const QueryParams& query, std::string& body, std::string& error);

    // One operation of a JSON 1.1 service: the input posted with X-Amz-Target
    // "<targetPrefix>.<op>"; the parsed answer in out.
    bool CallJson(const std::string& service, const std::string& targetPrefix, const std::string& region,
                  const std::string& op, const nlohmann::json& input, nlohmann::json& out, std::string& error);

    // Every page of a JSON 1.1 listing: the operation again with the answer's
    // tokenOut member as the request's tokenIn ("NextMarker" -> "Marker" for
    // KMS, "NextToken" for SSM) while the answer carries one.
    using JsonPageFn = std::function<bool(const nlohmann::json& page, std::string& error)>;
    bool CallJsonAllPages(const std::string& service, const std::string& targetPrefix, const std::string& region,
                          const std::string& op, const nlohmann::json& input, const char* tokenIn,
                          const char* tokenOut, const JsonPageFn& onPage, std::string& error);

    // One signed REST request to host: path already percent-encoded, query
    // given unencoded, headers ("name", "value", lower-case names) signed
    // with the rest. signPayload adds x-amz-content-sha256, which S3 needs.
    // A status in accept (404 for a HEAD that looks for an object) is an
    // answer, not a failure; the status in status, the body in body.
    struct RestCall {
        std::string method = "GET";
        std::string host;
        std::string path = "/";
        QueryParams query;
        QueryParams headers;
        std::string body;
        bool signPayload = false;
        std::vector<long> accept;
        std::string* checksum = nullptr;  // receives the answer's x-amz-Checksum
    };
    bool Rest(const std::string& service, const std::string& region, const RestCall& call, long& status,
              std::string& body, std::string& error);

    // Runs before every signed request (not the unsigned ones): the owner
    // renews expiring credentials there; false fails the request with error.
    void SetBeforeSigning(std::function<bool(std::string& error)> hook) { m_beforeSigning = std::move(hook); }

    void SetWebProxy(const std::string& host, const std::string& user, const std::string& password) {
        m_transport->SetWebProxy(host, user, password);
    }

    // One exchange as it is: no signature, no retry (the instance metadata
    // service). Counted with the others.
    HttpResponse SendUnsigned(const HttpRequest& request);

    // HTTP exchanges made, retries included.
    int64_t Exchanges() const { return m_exchanges; }

private:
    // One request with retries: make builds (and signs) each attempt.
    bool Send(const std::string& what, const std::function<HttpRequest()>& make, std::string& body,
              std::string& error, long* status = nullptr, const std::vector<long>& accept = {},
              std::string* checksum = nullptr);
    // host: the endpoint, when not the service's regional one.
    HttpRequest Signed(const std::string& service, const std::string& region, const std::string& body,
                       const std::string& host = std::string()) const;
    // Adds x-amz-date, the session token and the authorization to a request
    // whose signed headers toSign lists (host among them).
    void Sign(HttpRequest& request, AmazonDirectSnapshotAccessAPI::CAmazonRequestSigner::Request& toSign,
              const std::string& region, const std::string& service) const;

    std::unique_ptr<Transport> m_transport;
    RetryPolicy m_policy;
    AmazonDirectSnapshotAccessAPI::AWSCredentials m_credentials;
    int64_t m_exchanges = 0;
    std::function<bool(std::string& error)> m_beforeSigning;
};

}  // namespace wire
}  // namespace bridgeimpl
