#include "cloudsim/BlockToken.h"

#include <openssl/evp.h>

#include <stdexcept>

#include "framework/Clock.h"

namespace cloudsim {

namespace {

// Block tokens run 80 to 84 characters, as long as real ones; page tokens 44.
const size_t kBlockCheckBytes = 52;
const size_t kPageCheckBytes = 14;

std::string Digest(const std::string& text) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (EVP_Digest(text.data(), text.size(), out, &n, EVP_sha256(), nullptr) != 1 || n != 32)
        throw std::runtime_error("cannot derive a token");
    return std::string(reinterpret_cast<const char*>(out), n);
}

// 64 bytes derived from what the token covers; the first byte also picks how
// many of them the token carries (minimum to minimum + 2).
std::string Check(const std::string& purpose, const std::string& covered, size_t minimum) {
    std::string bytes = Digest(purpose + " a\n" + covered) + Digest(purpose + " b\n" + covered);
    return bytes.substr(0, minimum + static_cast<unsigned char>(bytes[0]) % 3);
}

void PutInt(std::string& out, uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xff);
}

uint64_t GetInt(const std::string& in, size_t at, int bytes) {
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value = (value << 8) | static_cast<unsigned char>(in[at + i]);
    return value;
}

std::string Encode(const std::string& bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&text[0]),
                            reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    text.resize(static_cast<size_t>(n));
    return text;
}

// Canonical standard base64 with padding; false for anything else.
bool Decode(const std::string& text, std::string& bytes) {
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (text.empty() || text.size() % 4) return false;
    size_t pad = text.size() - text.find_last_not_of('=') - 1;
    if (pad > 2) return false;
    bytes.clear();
    uint32_t group = 0;
    for (size_t i = 0; i < text.size() - pad; ++i) {
        size_t v = alphabet.find(text[i]);
        if (v == std::string::npos) return false;
        group = (group << 6) | static_cast<uint32_t>(v);
        if (i % 4 == 3) {
            PutInt(bytes, group, 3);
            group = 0;
        }
    }
    if (pad == 1) PutInt(bytes, group >> 2, 2);
    if (pad == 2) PutInt(bytes, group >> 4, 1);
    return Encode(bytes) == text;   // one spelling per token: no stray bits beside the padding
}

std::string BlockCovered(const std::string& snapshotId, int64_t blockIndex, const std::string& fields) {
    return snapshotId + '\n' + std::to_string(blockIndex) + '\n' + fields;
}

}  // namespace

std::string BlockToken(const std::string& snapshotId, int64_t blockIndex) {
    return BlockToken(snapshotId, blockIndex, FwClock::NowMs());
}

std::string BlockToken(const std::string& snapshotId, int64_t blockIndex, int64_t issuedMs) {
    std::string fields;
    PutInt(fields, static_cast<uint64_t>(issuedMs), 8);
    return Encode(fields + Check("block token", BlockCovered(snapshotId, blockIndex, fields), kBlockCheckBytes));
}

int64_t BlockTokenIssuedMs(const std::string& token, const std::string& snapshotId, int64_t blockIndex) {
    std::string bytes;
    if (token.size() > 256 || !Decode(token, bytes) || bytes.size() < 8) return -1;
    std::string fields = bytes.substr(0, 8);
    if (bytes.substr(8) != Check("block token", BlockCovered(snapshotId, blockIndex, fields), kBlockCheckBytes))
        return -1;
    return static_cast<int64_t>(GetInt(fields, 0, 8));
}

std::string PageToken(const std::string& listing, const PagePosition& at) {
    std::string fields;
    PutInt(fields, static_cast<uint64_t>(at.issuedMs), 8);
    PutInt(fields, static_cast<uint64_t>(at.next), 8);
    PutInt(fields, static_cast<uint64_t>(at.stalls), 1);
    return Encode(fields + Check("page token", listing + '\n' + fields, kPageCheckBytes));
}

bool ParsePageToken(const std::string& token, const std::string& listing, PagePosition& at) {
    std::string bytes;
    if (token.size() > 256 || !Decode(token, bytes) || bytes.size() < 17) return false;
    std::string fields = bytes.substr(0, 17);
    if (bytes.substr(17) != Check("page token", listing + '\n' + fields, kPageCheckBytes)) return false;
    at.issuedMs = static_cast<int64_t>(GetInt(fields, 0, 8));
    at.next = static_cast<int64_t>(GetInt(fields, 8, 8));
    at.stalls = static_cast<int>(GetInt(fields, 16, 1));
    return true;
}

}  // namespace cloudsim
