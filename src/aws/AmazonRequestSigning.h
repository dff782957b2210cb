#pragma once
// Value types shared by the signed EBS direct connection and its signer.
#include <cstdint>
#include <string>

namespace AmazonDirectSnapshotAccessAPI {

struct HttpHeader {
    std::string name;
    std::string value;
};

struct HttpQueryParameter {
    std::string name;
    std::string value;
};

// Both texts in UTC: "YYYYMMDD" and "YYYYMMDDTHHMMSSZ".
struct AWSRequestTime {
    std::string dateStamp;
    std::string requestDateTime;
};

struct AWSCredentials {
    std::string accessKeyId;
    std::string secretAccessKey;
    std::string sessionToken;  // empty for long-term access keys
    int64_t issueTime = 0;     // seconds since the epoch; 0 when typed in by the user
};

// One derived signing key and the inputs it came from; the key is raw bytes.
struct SignatureKeyCache {
    std::string signingKey;
    std::string secretAccessKey;
    std::string dateStamp;
    std::string region;
    std::string service;
};

}  // namespace AmazonDirectSnapshotAccessAPI
