#include "cloudsim/BlockToken.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace cloudsim {

namespace {

// 60 bytes give 80 characters without padding, as long as real tokens run.
const int kTokenBytes = 60;

void Digest(const std::string& text, unsigned char* out) {
    unsigned int n = 0;
    if (EVP_Digest(text.data(), text.size(), out, &n, EVP_sha256(), nullptr) != 1 || n != 32)
        throw std::runtime_error("cannot derive a block token");
}

}  // namespace

std::string BlockToken(const std::string& snapshotId, int64_t blockIndex) {
    std::string seed = snapshotId + '\n' + std::to_string(blockIndex);
    unsigned char bytes[64];
    Digest("block token a\n" + seed, bytes);
    Digest("block token b\n" + seed, bytes + 32);
    unsigned char text[4 * kTokenBytes / 3 + 1];
    int n = EVP_EncodeBlock(text, bytes, kTokenBytes);
    return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(n));
}

}  // namespace cloudsim
