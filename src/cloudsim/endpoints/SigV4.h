#pragma once
// The pieces of AWS Signature Version 4 a server recomputes to check a
// request: canonical request, string to sign, signing key and signature, and
// the parsed Authorization header. Pure functions; thread-safe.
#include <string>
#include <utility>
#include <vector>

namespace cloudsim::endpoints {

using NameValues = std::vector<std::pair<std::string, std::string>>;

// A request as it came over the wire. The path is the raw request target's
// path (still percent-encoded as the client sent it); query pairs and header
// values are as sent too, in arrival order.
struct WireRequest {
    std::string method;
    std::string path;
    std::string rawQuery;      // after "?", undecoded
    NameValues headers;
    std::string body;
};

struct Authorization {
    std::string accessKey;
    std::string date;          // yyyymmdd of the scope
    std::string region;
    std::string service;
    std::string terminator;    // "aws4_request"
    std::vector<std::string> signedHeaders;   // lower case, as listed
    std::string signature;     // lower-case hex

    std::string Scope() const { return date + "/" + region + "/" + service + "/" + terminator; }
};

// False when the header is not an AWS4-HMAC-SHA256 header with Credential,
// SignedHeaders and Signature.
bool ParseAuthorization(const std::string& header, Authorization& out);

// Percent-encodes everything but the unreserved characters (and "/" unless
// encodeSlash), as SigV4 does.
std::string UriEncode(const std::string& s, bool encodeSlash);
std::string UriDecode(const std::string& s);

// Services other than S3 normalise the path (dot segments, repeated
// slashes) and encode it once more; normalizePath=false keeps it as sent.
std::string CanonicalUri(const std::string& rawPath, bool normalizePath);
std::string CanonicalQuery(const std::string& rawQuery);
// Empty when a signed header is missing from the request.
std::string CanonicalHeaders(const NameValues& headers, const std::vector<std::string>& signedHeaders,
                             bool& allPresent);
std::string CanonicalRequest(const WireRequest& request, const std::vector<std::string>& signedHeaders,
                             bool normalizePath);
std::string StringToSign(const std::string& amzDate, const std::string& scope,
                         const std::string& canonicalRequest);
std::string SigningKey(const std::string& secretKey, const std::string& date,
                       const std::string& region, const std::string& service);
std::string Signature(const std::string& signingKey, const std::string& stringToSign);  // hex

// The first value of a header (case-insensitive name); empty when absent.
std::string HeaderValue(const NameValues& headers, const std::string& name);

}  // namespace cloudsim::endpoints
