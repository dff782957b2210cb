#pragma once
// The signed HTTPS connection over which the plug-in calls the EBS direct
// APIs itself. Every request is signed with Signature Version 4, its body
// lands in a buffer the caller owns, GET bodies are optionally checked
// against the service's "x-amz-Checksum" header, and transient failures are
// retried, at most ten times, after a capped exponential back-off with
// jitter: each wait is drawn between half and all of 500, 1000, 2000, then
// 3000 ms, so that readers throttled together do not come back together.
// Transient are every 5xx answer, ThrottlingException and
// RequestThrottledException (both HTTP 400), a body saying "Rate exceeded",
// time-outs, broken connections and bodies that fail their checksum; any
// other 4xx is final. When the service says the security token expired the
// connection asks its owner for fresh credentials through the refresh
// callback and retries at once; at most three such refreshes in a row.
//
// One connection serves one thread: nothing inside is locked. The refresh
// callback runs on the requesting thread and must serialise itself.
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "aws/AmazonRequestSigner.h"
#include "aws/AmazonRequestSigning.h"
#include "framework/KDSRestApiConnection.h"

namespace AmazonDirectSnapshotAccessAPI {

// Shared by all connections of one client; must outlive them.
struct AWSConnectionConfiguration {
    int32_t timeoutSeconds = 0;     // whole-transfer time-out (CURLOPT_TIMEOUT)
    bool validateChecksum = false;  // check every GET body against x-amz-Checksum
};

class AWSRequestOptions : public VSRestApiRequestOptions {
public:
    std::string region;
    std::string service;   // "ebs"
    std::vector<HttpQueryParameter> queryParameters;   // sent in this order
    unsigned char* downloadBuffer = nullptr;           // caller-owned
    uint64_t downloadBufferSize = 0;
    uint64_t bytesReceived = 0;   // set when the request ends; 0 unless it succeeded
    // Block bodies carry x-amz-Checksum; listings carry none.
    bool checksummedBody = true;
};

// Where libcurl writes the body of the request in flight.
struct CurlDownloadData {
    uint64_t received = 0;
    uint64_t capacity = 0;
    unsigned char* buffer = nullptr;
};

// How the service answered the last request that failed. type is the
// x-amzn-ErrorType without its namespace suffix (empty when the answer
// carried none, as a load balancer's page does); reason is the EBS "Reason"
// member of a JSON body.
struct AWSErrorAnswer {
    long httpCode = 0;
    std::string type;
    std::string reason;
    std::string message;   // the JSON body's "Message" (or "message")
};

// Called with the owner pointer and the connection's own credentials, which
// it replaces on success.
using RefreshCredentialsCallBackType = std::function<bool(void* owner, AWSCredentials& credentials)>;

class CAmazonRESTAPIConnection : public KDSRestApiConnection {
public:
    static constexpr uint32_t kFirstWaitMs = 500;
    static constexpr uint32_t kWaitFactor = 2;
    static constexpr uint32_t kLongestWaitMs = 3000;
    static constexpr uint32_t kMaxRetries = 10;
    // The design leaves consecutive refreshes unbounded; a service that keeps
    // calling fresh credentials expired would otherwise loop for ever.
    static constexpr uint32_t kMaxTokenRefreshes = 3;
    static constexpr const char* kTokenExpiredText = "The security token included in the request is expired";
    static constexpr const char* kRateExceededText = "Rate exceeded";
    static constexpr const char* kErrorTypeHeader = "x-amzn-ErrorType";
    static constexpr const char* kChecksumHeader = "x-amz-Checksum";

    CAmazonRESTAPIConnection();
    ~CAmazonRESTAPIConnection() override;

    bool initialize(AWSCredentials credentials, RefreshCredentialsCallBackType refresh, void* owner,
                    const AWSConnectionConfiguration* config);

    // The options must be AWSRequestOptions; a GET needs a download buffer.
    // response stays empty: the body goes to the options' buffer.
    bool sendReq(HTTP_REQ_TYPE type, const std::string& path, const std::string& body, std::string& response,
                 VSRestApiRequestOptions* options) override;

    // "ebs.us-east-1.amazonaws.com"; "iam.amazonaws.com"; China regions get ".cn".
    static std::string getAPIEndpoint(const std::string& region, const std::string& service);
    // An unsigned GET on a client of its own; the response holds whatever
    // bytes came back. No retry; the whole transfer is bounded by
    // kSimpleRequestTimeoutSeconds so that a silent peer cannot hang a job.
    static bool SimpleHttpGet(const std::string& url, std::string& response);
    // The same for any method, with extra header lines ("Name: value").
    static bool SimpleHttpRequest(HTTP_REQ_TYPE type, const std::string& url, const std::vector<std::string>& headers,
                                  const std::string& body, std::string& response);
    static constexpr long kSimpleRequestTimeoutSeconds = 60;
    static size_t curl_write_callback(char* data, size_t size, size_t count, void* userdata);

    const AWSCredentials& credentials() const { return m_credentials; }
    // Valid after a request returned false; cleared by the next request.
    const AWSErrorAnswer& lastError() const { return m_lastError; }
    // Why the last request failed, for a person, naming the endpoint and
    // what it (or the network) said: "cannot connect to
    // https://ebs.us-east-1.amazonaws.com: ... Connection refused". Never
    // empty after a request returned false; cleared by the next request.
    const std::string& lastFailure() const { return m_failure; }
    const CAmazonRequestSigner& signer() const { return m_signer; }

protected:
    bool computeUrl(const std::string& baseUrl, const std::string& path, const VSRestApiRequestOptions* options,
                    std::string& url) override;
    void recvResp(std::string&) override {}
    bool addCurlHeaders(HTTP_REQ_TYPE type, const std::string& path, const std::string& body,
                        const VSRestApiRequestOptions* options) override;
    void LogResponse(HTTP_REQ_TYPE type, const std::string& url, const std::string& body) override;
    void LogRequest(HTTP_REQ_TYPE type, const std::string& url, const std::string& body) override;
    void LogError(HTTP_REQ_TYPE type, const std::string& url, const std::string& body,
                  const std::string& response) override;

    // The time a request is signed with; tests may pin it.
    virtual AWSRequestTime getCurrentTime();

private:
    static AWSRequestOptions* castToAWSRequestOptions(VSRestApiRequestOptions* options);
    static const AWSRequestOptions* castToAWSRequestOptions(const VSRestApiRequestOptions* options);
    static std::string getCaBundlePath();
    static std::string formQueryString(const std::vector<HttpQueryParameter>& parameters);

    bool encodeQueryParameters(VSRestApiRequestOptions* options);
    bool prepareForRequest(HTTP_REQ_TYPE type, VSRestApiRequestOptions* options);
    bool sendReqAndValidateCheckSum(HTTP_REQ_TYPE type, const std::string& path, const std::string& body,
                                    std::string& response, VSRestApiRequestOptions* options, bool& checksumFailed);
    bool validateCheckSum();
    void finishRequest(HTTP_REQ_TYPE type, VSRestApiRequestOptions* options, bool success);
    bool isRetryableError(bool checksumFailed);
    void readErrorAnswer();
    uint32_t jitteredWaitMs(uint32_t nominalMs);
    bool isTokenExpiredError();
    const char* getNullTerminatedResponseBufferPtr();
    void LogNonRetryableError(HTTP_REQ_TYPE type, const std::string& path, const std::string& body,
                              VSRestApiRequestOptions* options);
    // The text of lastFailure(): cause when one is given, else from the last
    // answer (or transfer error); tries counts the requests sent.
    std::string describeFailure(HTTP_REQ_TYPE type, const std::string& path, const VSRestApiRequestOptions* options,
                                uint32_t tries, const std::string& cause);
    bool getResponseHeaderValue(const char* name, std::string& value);
    std::string computeCheckSum(const void* data, size_t length);

    const AWSConnectionConfiguration* m_config = nullptr;
    AWSCredentials m_credentials;
    void* m_owner = nullptr;
    RefreshCredentialsCallBackType m_refresh;
    CurlDownloadData m_download;
    CAmazonRequestSigner m_signer;
    AWSErrorAnswer m_lastError;
    std::string m_failure;
    std::minstd_rand m_jitter;
};

}  // namespace AmazonDirectSnapshotAccessAPI
