#include "cloudsim/endpoints/AwsError.h"

#include <nlohmann/json.hpp>

namespace cloudsim::endpoints {

std::string AwsError::Body() const {
    nlohmann::json body;
    body[capitalized ? "Message" : "message"] = message;
    if (!reason.empty()) body["Reason"] = reason;
    return body.dump();
}

AwsError MissingAuthentication() {
    return {403, "MissingAuthenticationTokenException", "Missing Authentication Token", "", false};
}

AwsError UnrecognizedClient() {
    return {403, "UnrecognizedClientException", "The security token included in the request is invalid.", "",
            false};
}

AwsError SignatureDoesNotMatch() {
    return {403, "SignatureDoesNotMatch",
            "The request signature we calculated does not match the signature you provided. Check your AWS "
            "Secret Access Key and signing method. Consult the service documentation for details.",
            "", false};
}

AwsError SignatureExpired(const std::string& amzDate, const std::string& earliest, const std::string& now) {
    return {403, "InvalidSignatureException",
            "Signature expired: " + amzDate + " is now earlier than " + earliest + " (" + now + " - 15 min.)", "",
            false};
}

AwsError ExpiredToken() {
    return {403, "ExpiredTokenException", "The security token included in the request is expired", "", false};
}

AwsError Throttling() { return {400, "ThrottlingException", "Rate exceeded", "", false}; }

AwsError EbsError(int status, const std::string& type, const std::string& message, const std::string& reason) {
    return {status, type, message, reason, true};
}

}  // namespace cloudsim::endpoints
