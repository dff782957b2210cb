#pragma once
// An error as an AWS JSON service returns it: status, the x-amzn-ErrorType
// header and a JSON body with a message (and, for EBS, a reason).
#include <string>

namespace cloudsim::endpoints {

struct AwsError {
    int status = 0;                // 0: no error
    std::string type;              // "ExpiredTokenException", ...
    std::string message;
    std::string reason;            // EBS "Reason"; empty when none
    // The EBS direct APIs spell the member "Message"; the authentication
    // layer in front of every service spells it "message".
    bool capitalized = false;

    explicit operator bool() const { return status != 0; }
    std::string Body() const;
};

AwsError MissingAuthentication();
AwsError UnrecognizedClient();
AwsError SignatureDoesNotMatch();
AwsError SignatureExpired(const std::string& amzDate, const std::string& earliest, const std::string& now);
AwsError ExpiredToken();
AwsError Throttling();
AwsError EbsError(int status, const std::string& type, const std::string& message, const std::string& reason);

}  // namespace cloudsim::endpoints
