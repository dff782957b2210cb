#pragma once
// Standard base64 (RFC 4648 alphabet, "=" fill, no line breaks), over
// OpenSSL.
#include <cstddef>
#include <string>

#include "framework/FrameworkApi.h"

class FW_API KdcBase64 {
public:
    static bool Encode(const void* data, size_t length, std::string& out);
    static bool Encode(const std::string& data, std::string& out) { return Encode(data.data(), data.size(), out); }
    // Fails on characters outside the alphabet, a length that is not a
    // multiple of four, or misplaced fill; out is then left empty.
    static bool Decode(const std::string& text, std::string& out);
};
