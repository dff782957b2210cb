#include "framework/Base64.h"

#include <openssl/evp.h>

#include <climits>
#include <vector>

bool KdcBase64::Encode(const void* data, size_t length, std::string& out) {
    out.clear();
    if (length > static_cast<size_t>(INT_MAX / 4 * 3)) return false;
    std::vector<unsigned char> buf(4 * ((length + 2) / 3) + 1);
    int n = EVP_EncodeBlock(buf.data(), static_cast<const unsigned char*>(data), static_cast<int>(length));
    if (n < 0) return false;
    out.assign(reinterpret_cast<const char*>(buf.data()), static_cast<size_t>(n));
    return true;
}

bool KdcBase64::Decode(const std::string& text, std::string& out) {
    out.clear();
    if (text.size() % 4 != 0 || text.size() > static_cast<size_t>(INT_MAX)) return false;
    if (text.empty()) return true;
    size_t fill = 0;
    while (fill < 2 && text[text.size() - 1 - fill] == '=') ++fill;
    // EVP_DecodeBlock skips leading blanks and ignores fill in the middle;
    // a strict decoder must refuse both.
    for (size_t i = 0; i < text.size() - fill; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
        if (!ok) return false;
    }
    std::vector<unsigned char> buf(text.size() / 4 * 3);
    int n = EVP_DecodeBlock(buf.data(), reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (n < 0 || static_cast<size_t>(n) < fill) return false;
    // EVP_DecodeBlock counts the fill as zero bytes.
    out.assign(reinterpret_cast<const char*>(buf.data()), static_cast<size_t>(n) - fill);
    return true;
}
