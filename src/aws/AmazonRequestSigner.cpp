#include "aws/AmazonRequestSigner.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <exception>

#include "framework/EvDebug.h"
#include "framework/Hashing.h"

namespace AmazonDirectSnapshotAccessAPI {

std::string CAmazonRequestSigner::getAuthorizationHeaderValue(const Request& request, const AWSRequestTime& time,
                                                              const std::string& region, const std::string& service,
                                                              const AWSCredentials& credentials) {
    try {
        const std::string scope = formCrendentialScope(time.dateStamp, region, service);
        const std::string signedHeaders = formHeadersListString(request.headers);
        const std::string canonicalRequest = createCanonicalRequest(request);
        const std::string stringToSign = createStringToSign(time.requestDateTime, scope, canonicalRequest);
        const std::string key = getSignatureKey(credentials.secretAccessKey, time.dateStamp, region, service);
        const std::string signature = calculateSignature(key, stringToSign);
        return formAuthorizationHeaderValue(credentials.accessKeyId, scope, signedHeaders, signature);
    } catch (const std::exception&) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to compute authorization header.");
    } catch (...) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to compute authorization header.");
    }
    return std::string();
}

std::vector<HttpHeader> CAmazonRequestSigner::formHttpHeaders(Request request, const std::string& host,
                                                              const AWSRequestTime& time, const std::string& region,
                                                              const std::string& service,
                                                              const AWSCredentials& credentials) {
    // Already in canonical (sorted, lower-case) order, so list order is the
    // order the service recomputes.
    request.headers = {{"accept", "application/json"}, {"host", host}, {"x-amz-date", time.requestDateTime}};
    const std::string authorization = getAuthorizationHeaderValue(request, time, region, service, credentials);
    if (authorization.empty()) return {};
    std::vector<HttpHeader> headers = std::move(request.headers);
    headers.push_back({"authorization", authorization});
    // Appended after signing: the endpoints accept a token that is not among
    // the signed headers, and existing agents have always sent it that way.
    if (!credentials.sessionToken.empty()) headers.push_back({"x-amz-security-token", credentials.sessionToken});
    headers.push_back({"User-Agent", kUserAgent});
    return headers;
}

std::string CAmazonRequestSigner::getSignatureKey(const std::string& secretAccessKey, const std::string& dateStamp,
                                                  const std::string& region, const std::string& service) {
    std::string key;
    if (getCachedSignatureKey(secretAccessKey, dateStamp, region, service, key)) return key;
    EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2, "Computing signature key");
    key = deriveSignatureKey(secretAccessKey, dateStamp, region, service);
    ++m_derivations;
    saveCachedSignatureKey(key, secretAccessKey, dateStamp, region, service);
    return key;
}

bool CAmazonRequestSigner::getCachedSignatureKey(const std::string& secretAccessKey, const std::string& dateStamp,
                                                 const std::string& region, const std::string& service,
                                                 std::string& key) const {
    if (m_cache.signingKey.empty() || m_cache.secretAccessKey != secretAccessKey || m_cache.dateStamp != dateStamp ||
        m_cache.region != region || m_cache.service != service) {
        return false;
    }
    key = m_cache.signingKey;
    return true;
}

void CAmazonRequestSigner::saveCachedSignatureKey(const std::string& key, const std::string& secretAccessKey,
                                                  const std::string& dateStamp, const std::string& region,
                                                  const std::string& service) {
    m_cache = SignatureKeyCache{key, secretAccessKey, dateStamp, region, service};
}

std::string CAmazonRequestSigner::createCanonicalRequest(const Request& request) {
    std::string canonical;
    canonical += request.method + "\n";
    canonical += (request.path.empty() ? std::string("/") : request.path) + "\n";
    canonical += formCanonicalQueryString(request.query) + "\n";
    // Each header line ends in "\n", so an empty line follows them.
    canonical += formCanonicalHeaders(request.headers) + "\n";
    canonical += formHeadersListString(request.headers) + "\n";
    canonical += formPayloadHash(request.body);
    return canonical;
}

std::string CAmazonRequestSigner::createStringToSign(const std::string& requestDateTime,
                                                     const std::string& credentialScope,
                                                     const std::string& canonicalRequest) {
    return std::string(kAlgorithm) + "\n" + requestDateTime + "\n" + credentialScope + "\n" + sha256(canonicalRequest);
}

std::string CAmazonRequestSigner::deriveSignatureKey(const std::string& secretAccessKey, const std::string& dateStamp,
                                                     const std::string& region, const std::string& service) {
    const std::string kDate = hmacSHA256(dateStamp, "AWS4" + secretAccessKey);
    const std::string kRegion = hmacSHA256(region, kDate);
    const std::string kService = hmacSHA256(service, kRegion);
    return hmacSHA256(kTerminator, kService);
}

std::string CAmazonRequestSigner::calculateSignature(const std::string& signingKey, const std::string& stringToSign) {
    return hexEncode(hmacSHA256(stringToSign, signingKey));
}

std::string CAmazonRequestSigner::formQueryString(const std::vector<HttpQueryParameter>& parameters) {
    std::string query;
    for (const HttpQueryParameter& parameter : parameters) {
        if (!query.empty()) query += "&";
        query += parameter.name + "=" + parameter.value;
    }
    return query;
}

std::string CAmazonRequestSigner::formCanonicalQueryString(std::vector<HttpQueryParameter> parameters) {
    // std::string compares as unsigned bytes, so upper case sorts first.
    std::sort(parameters.begin(), parameters.end(), [](const HttpQueryParameter& a, const HttpQueryParameter& b) {
        return a.name != b.name ? a.name < b.name : a.value < b.value;
    });
    // The parameters arrive encoded once, as the URL carries them, and that
    // is the form the service recomputes: encoding "%3D" again would sign a
    // value the URL does not hold, and every token ending in "=" would be
    // refused as a bad signature.
    return formQueryString(parameters);
}

std::string CAmazonRequestSigner::formCanonicalHeaders(const std::vector<HttpHeader>& headers) {
    std::string canonical;
    for (const HttpHeader& header : headers) canonical += header.name + ":" + header.value + "\n";
    return canonical;
}

std::string CAmazonRequestSigner::formHeadersListString(const std::vector<HttpHeader>& headers) {
    std::string names;
    for (const HttpHeader& header : headers) {
        if (!names.empty()) names += ";";
        names += header.name;
    }
    return names;
}

std::string CAmazonRequestSigner::formCrendentialScope(const std::string& dateStamp, const std::string& region,
                                                       const std::string& service) {
    return dateStamp + "/" + region + "/" + service + "/" + kTerminator;
}

std::string CAmazonRequestSigner::formAuthorizationHeaderValue(const std::string& accessKeyId,
                                                               const std::string& credentialScope,
                                                               const std::string& signedHeaders,
                                                               const std::string& signature) {
    return std::string(kAlgorithm) + " Credential=" + accessKeyId + "/" + credentialScope +
           ", SignedHeaders=" + signedHeaders + ", Signature=" + signature;
}

std::string CAmazonRequestSigner::formPayloadHash(const std::string& body) {
    return body.empty() ? std::string(kEmptyPayloadHash) : sha256(body);
}

AWSRequestTime CAmazonRequestSigner::formRequestTime(int64_t epochSeconds) {
    const time_t seconds = static_cast<time_t>(epochSeconds);
    struct tm utc {};
    gmtime_r(&seconds, &utc);
    char date[64];
    char dateTime[80];
    snprintf(date, sizeof(date), "%04d%02d%02d", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday);
    snprintf(dateTime, sizeof(dateTime), "%04d%02d%02dT%02d%02d%02dZ", utc.tm_year + 1900, utc.tm_mon + 1,
             utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return AWSRequestTime{date, dateTime};
}

std::string CAmazonRequestSigner::sha256(const std::string& data) { return KdcSHA256::HexDigest(data); }

std::string CAmazonRequestSigner::hmacSHA256(const std::string& data, const std::string& key) {
    return KdcHash::HmacSHA256(key, data);
}

std::string CAmazonRequestSigner::hexEncode(const std::string& bytes) { return KdcHash::HexEncode(bytes); }

}  // namespace AmazonDirectSnapshotAccessAPI
