#include "ebsdirect/ZeroBlockCheck.h"

#include <vector>

#include "framework/Base64.h"
#include "framework/Hashing.h"

namespace AmazonDirectSnapshotAccessAPI {

const std::string& ZeroBlockChecksum() {
    static const std::string checksum = [] {
        const std::vector<char> zeros(kEbsBlockBytes);
        std::string encoded;
        KdcBase64::Encode(KdcSHA256::Digest(zeros.data(), zeros.size()), encoded);
        return encoded;
    }();
    return checksum;
}

}  // namespace AmazonDirectSnapshotAccessAPI
