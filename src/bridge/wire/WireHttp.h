#pragma once
// Private to the wire backend: one HTTPS exchange with an AWS endpoint, and
// the seam tests replace to play recorded responses. The production
// transport is the framework's libcurl wrapper (framework/KDLibCurl.h): TLS
// always verified, the connect-to table of Base/sCurlConnectTo applied, so
// the real AWS host names can be routed to a local server.
#include <memory>
#include <string>
#include <vector>

#ifndef BRIDGE_INTERNAL
#define BRIDGE_INTERNAL __attribute__((visibility("hidden")))
#endif

namespace bridgeimpl BRIDGE_INTERNAL {
namespace wire {

struct HttpRequest {
    std::string method;                // "POST", "GET"
    std::string host;                  // "ec2.us-east-1.amazonaws.com"
    std::string path = "/";
    std::string query;                 // already encoded, without "?"
    std::vector<std::string> headers;  // "Name: value" lines
    std::string body;
    // The instance metadata service only: a link-local address served over
    // plain HTTP on every EC2 instance, never through a web proxy.
    bool plainHttp = false;
    // Bounds of this exchange; 0 keeps the transport's own (AWS answers
    // within seconds; the metadata service at once or not at all).
    long timeoutMs = 0;
    long connectTimeoutMs = 0;
};

struct HttpResponse {
    // The HTTP status when the exchange completed, else 0 with the reason in
    // transportError (no connection, reset, time-out, TLS refused ...).
    long status = 0;
    std::string body;
    std::string transportError;
    std::string errorType;  // the x-amzn-ErrorType header of a REST-JSON error
    std::string checksum;   // the x-amz-Checksum header of an EBS block
    // A fault of the connection rather than of the request: worth another try.
    bool connectionFault = false;
};

class Transport {
public:
    virtual ~Transport() = default;
    // Never throws; every outcome is in the response.
    virtual HttpResponse Send(const HttpRequest& request) = 0;
    // The web proxy of every exchange but the metadata service's (host
    // empty: the environment's, as libcurl has it). Recorded transports
    // have none.
    virtual void SetWebProxy(const std::string& host, const std::string& user, const std::string& password) {
        (void)host, (void)user, (void)password;
    }
};

// The libcurl transport; one per backend object (one thread at a time).
std::unique_ptr<Transport> MakeCurlTransport();

}  // namespace wire
}  // namespace bridgeimpl
