#pragma once
// Digests the endpoints need for signatures and checksums (OpenSSL).
#include <string>

namespace cloudsim::endpoints {

std::string Sha256(const std::string& data);                         // raw 32 bytes
std::string HmacSha256(const std::string& key, const std::string& data);  // raw 32 bytes
std::string Hex(const std::string& bytes);                          // lower case
std::string Base64(const std::string& bytes);                       // padded

}  // namespace cloudsim::endpoints
