#pragma once
// Digests for request signing and body checksums, over OpenSSL. Digests and
// MACs are returned as raw bytes (32 for SHA-256) in a std::string; HexEncode
// turns them into the lower-case text the signing scheme wants.
#include <cstddef>
#include <string>

#include "framework/FrameworkApi.h"

class FW_API KdcSHA256 {
public:
    static constexpr size_t kDigestSize = 32;
    // Raw 32-byte digest. Never fails for in-memory data.
    static std::string Digest(const void* data, size_t length);
    static std::string Digest(const std::string& data) { return Digest(data.data(), data.size()); }
    // Lower-case hex of the digest (64 characters).
    static std::string HexDigest(const std::string& data);
};

class FW_API KdcHash {
public:
    // Raw 32-byte HMAC-SHA256 of data under key; key may hold any bytes.
    static std::string HmacSHA256(const std::string& key, const std::string& data);
    // Each byte as two lower-case hex digits.
    static std::string HexEncode(const std::string& bytes);
};
