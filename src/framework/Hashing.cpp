#include "framework/Hashing.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>

std::string KdcSHA256::Digest(const void* data, size_t length) {
    unsigned char out[SHA256_DIGEST_LENGTH];
    // SHA256() accepts a null pointer only for length 0 when given a valid
    // address, so hand it an empty literal instead.
    SHA256(length ? static_cast<const unsigned char*>(data) : reinterpret_cast<const unsigned char*>(""),
           length, out);
    return std::string(reinterpret_cast<const char*>(out), sizeof out);
}

std::string KdcSHA256::HexDigest(const std::string& data) {
    return KdcHash::HexEncode(Digest(data));
}

std::string KdcHash::HmacSHA256(const std::string& key, const std::string& data) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int outLen = 0;
    if (!HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
              reinterpret_cast<const unsigned char*>(data.data()), data.size(), out, &outLen))
        return std::string();
    return std::string(reinterpret_cast<const char*>(out), outLen);
}

std::string KdcHash::HexEncode(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        hex.push_back(kDigits[c >> 4]);
        hex.push_back(kDigits[c & 0x0f]);
    }
    return hex;
}
