#pragma once
// AWS Signature Version 4 ("AWS4-HMAC-SHA256"), the project's one signer:
// the plug-in's own EBS direct connection and the bridge's wire backend both
// sign with it. A caller builds the header list and asks for the
// Authorization value; everything that shapes the signature lives here so it
// can be checked against published signing vectors without a network.
//
// Deliberate behaviour the EBS direct endpoints have always been sent, kept
// so that requests stay byte-identical (a caller that wants AWS's canonical
// form lists its headers lower-case, sorted and trimmed itself):
//  - headers are signed in the order the caller lists them, names as given
//    (the connection lists them lower-case and already sorted);
//  - header values are not trimmed;
//  - the session token header is sent but never signed.
//
// Ownership and threading: one signer per connection, used by one thread at
// a time; it holds the only signing-key cache of that connection and takes
// no locks. Failures are reported as empty strings, never as exceptions.
#include <cstdint>
#include <string>
#include <vector>

#include "aws/AmazonRequestSigning.h"

namespace AmazonDirectSnapshotAccessAPI {

class CAmazonRequestSigner {
public:
    static constexpr const char* kAlgorithm = "AWS4-HMAC-SHA256";
    static constexpr const char* kTerminator = "aws4_request";
    static constexpr const char* kEmptyPayloadHash =
        "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
    static constexpr const char* kUserAgent = "APN/1.0 KELD/1.1 KDRF/2.0, curl/7.32.0";

    // Everything one request contributes to its signature. The query
    // parameters must already be percent-encoded, in the order they go into
    // the URL.
    struct Request {
        std::string method;  // "GET"
        std::string path;    // "" is signed as "/"
        std::vector<HttpQueryParameter> query;
        std::vector<HttpHeader> headers;  // exactly the headers to sign
        std::string body;
    };

    // The Authorization header value, or "" when it cannot be computed.
    std::string getAuthorizationHeaderValue(const Request& request, const AWSRequestTime& time,
                                            const std::string& region, const std::string& service,
                                            const AWSCredentials& credentials);

    // The complete header list the connection installs, in order: the signed
    // accept, host and x-amz-date, then authorization, the session token when
    // there is one, and the user agent. Empty when signing failed. The
    // request's own header list is replaced by the signed three.
    std::vector<HttpHeader> formHttpHeaders(Request request, const std::string& host, const AWSRequestTime& time,
                                            const std::string& region, const std::string& service,
                                            const AWSCredentials& credentials);

    // The signing key for these inputs: the cached one when all four match,
    // else a fresh derivation that replaces the cache entry.
    std::string getSignatureKey(const std::string& secretAccessKey, const std::string& dateStamp,
                                const std::string& region, const std::string& service);
    // True, with the key, when the cache holds one for exactly these inputs.
    bool getCachedSignatureKey(const std::string& secretAccessKey, const std::string& dateStamp,
                               const std::string& region, const std::string& service, std::string& key) const;
    void saveCachedSignatureKey(const std::string& key, const std::string& secretAccessKey,
                                const std::string& dateStamp, const std::string& region, const std::string& service);
    const SignatureKeyCache& cachedSignatureKey() const { return m_cache; }
    // How many times the four-step derivation ran on this signer.
    uint64_t signatureKeyDerivations() const { return m_derivations; }

    // The pieces, stateless.
    static std::string createCanonicalRequest(const Request& request);
    static std::string createStringToSign(const std::string& requestDateTime, const std::string& credentialScope,
                                          const std::string& canonicalRequest);
    static std::string deriveSignatureKey(const std::string& secretAccessKey, const std::string& dateStamp,
                                          const std::string& region, const std::string& service);
    static std::string calculateSignature(const std::string& signingKey, const std::string& stringToSign);
    // name=value pairs joined with "&", in list order.
    static std::string formQueryString(const std::vector<HttpQueryParameter>& parameters);
    // The pairs sorted by name, then value (bytes), each exactly as the URL
    // carries it: an "=" in a value is "%3D" in both.
    static std::string formCanonicalQueryString(std::vector<HttpQueryParameter> parameters);
    static std::string formCanonicalHeaders(const std::vector<HttpHeader>& headers);
    static std::string formHeadersListString(const std::vector<HttpHeader>& headers);
    static std::string formCrendentialScope(const std::string& dateStamp, const std::string& region,
                                            const std::string& service);
    static std::string formAuthorizationHeaderValue(const std::string& accessKeyId, const std::string& credentialScope,
                                                    const std::string& signedHeaders, const std::string& signature);
    static std::string formPayloadHash(const std::string& body);
    // UTC texts for a time in seconds since the epoch.
    static AWSRequestTime formRequestTime(int64_t epochSeconds);

    // Lower-case hex of the SHA-256 of data.
    static std::string sha256(const std::string& data);
    // Raw 32-byte HMAC-SHA256 of data under key.
    static std::string hmacSHA256(const std::string& data, const std::string& key);
    static std::string hexEncode(const std::string& bytes);

private:
    SignatureKeyCache m_cache;
    uint64_t m_derivations = 0;
};

}  // namespace AmazonDirectSnapshotAccessAPI
