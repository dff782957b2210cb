#pragma once
// Classification of the AWS error texts the bridge hands back.
#include <string>

// True when the text reports that the resource does not exist (AWS's
// "<Resource>.NotFound" codes, or an AMI id that is no longer valid). A
// clean-up treats such a resource as already deleted.
inline bool IsAwsNotFoundError(const std::string& error) {
    return error.find(".NotFound") != std::string::npos || error.find("InvalidAMIID.Unavailable") != std::string::npos;
}
