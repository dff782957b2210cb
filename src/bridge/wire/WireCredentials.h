#pragma once
// Private to the wire backend: the credentials a connection signs with, found
// where AWS's SDKs look for them, in this order:
//   1. the keys given to Connect;
//   2. the environment: AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY and
//      AWS_SESSION_TOKEN (optional);
//   3. the shared credentials file (AWS_SHARED_CREDENTIALS_FILE, else
//      ~/.aws/credentials), profile AWS_PROFILE, else "default";
//   4. (the backend's own, as it needs the metadata service) the instance
//      role's, which ResolveCredentials leaves to its caller: it fails with
//      "NoCredentialProviders: ..." when the first three give nothing.
// A half-given pair (an access key without its secret) is an error, not a
// reason to look further: it would sign as someone else.
#include <string>

#include "aws/AmazonRequestSigning.h"

#ifndef BRIDGE_INTERNAL
#define BRIDGE_INTERNAL __attribute__((visibility("hidden")))
#endif

namespace bridgeimpl BRIDGE_INTERNAL {
namespace wire {

using AmazonDirectSnapshotAccessAPI::AWSCredentials;

// True with out filled; false with the reason ("<Code>: <message>").
bool ResolveCredentials(const std::string& accessKey, const std::string& secretKey, AWSCredentials& out,
                        std::string& error);

// The profile's keys from an INI text of the shared credentials file's
// shape; false when the profile or its keys are not there.
bool ProfileCredentials(const std::string& fileText, const std::string& profile, AWSCredentials& out);

}  // namespace wire
}  // namespace bridgeimpl
