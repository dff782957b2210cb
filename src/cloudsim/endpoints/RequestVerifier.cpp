#include "cloudsim/endpoints/RequestVerifier.h"

#include <openssl/crypto.h>

#include "cloudsim/endpoints/TimeFormat.h"
#include "framework/Clock.h"

namespace cloudsim::endpoints {
namespace {

constexpr int64_t kSkewMs = 15 * 60 * 1000;

bool SameSecret(const std::string& a, const std::string& b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

AwsError RequestVerifier::Verify(const WireRequest& request, Credentials* caller) const {
    std::string header = HeaderValue(request.headers, "authorization");
    if (header.empty()) return MissingAuthentication();
    Authorization auth;
    if (!ParseAuthorization(header, auth) || auth.terminator != "aws4_request" || auth.service != m_service)
        return SignatureDoesNotMatch();

    std::optional<Credentials> known = m_store.Find(auth.accessKey);
    if (!known) return UnrecognizedClient();
    std::string token = HeaderValue(request.headers, "x-amz-security-token");
    if (token != known->token) return UnrecognizedClient();

    int64_t now = FwClock::NowMs();
    if (known->expiresMs != 0 && now >= known->expiresMs) return ExpiredToken();

    std::string amzDate = HeaderValue(request.headers, "x-amz-date");
    int64_t signedAt = 0;
    if (!ParseAmzDate(amzDate, signedAt) || amzDate.substr(0, 8) != auth.date) return SignatureDoesNotMatch();
    if (signedAt < now - kSkewMs || signedAt > now + kSkewMs)
        return SignatureExpired(amzDate, AmzDate(now - kSkewMs), AmzDate(now));

    std::string canonical = CanonicalRequest(request, auth.signedHeaders, m_normalizePath);
    std::string expected = Signature(SigningKey(known->secretKey, auth.date, auth.region, auth.service),
                                     StringToSign(amzDate, auth.Scope(), canonical));
    if (!SameSecret(expected, auth.signature)) return SignatureDoesNotMatch();
    if (caller) *caller = *known;
    return AwsError{};
}

}  // namespace cloudsim::endpoints
