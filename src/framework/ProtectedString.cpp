// Sealing of secrets under the agent's own key.
#include "framework/ProtectedString.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <mutex>

#include "framework/Base64.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/KDPI.h"

namespace FwProtected {
const char kPrefix[] = "PS1$";
}

namespace {
const char kTag[] = "FwProtected";
constexpr size_t kKeyBytes = 32;
constexpr size_t kNonceBytes = 12;
constexpr size_t kTagBytes = 16;

using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

std::string KeyPath() { return FwFile::JoinPath(FwFile::JoinPath(KDPI_Base::getBaseDir(), "Keys"), "protected.key"); }

// Made with O_EXCL so two processes making it at once agree on one key: the
// loser reads the winner's.
bool LoadKey(std::string& key) {
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    const std::string path = KeyPath();
    if (FwFile::ReadAll(path, key) && key.size() == kKeyBytes) return true;
    FwFile::MakeDirs(FwFile::JoinPath(KDPI_Base::getBaseDir(), "Keys"));
    unsigned char bytes[kKeyBytes];
    if (RAND_bytes(bytes, sizeof bytes) != 1) return false;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, S_IRUSR | S_IWUSR);
    if (fd >= 0) {
        const bool written = ::write(fd, bytes, sizeof bytes) == static_cast<ssize_t>(sizeof bytes) && ::fsync(fd) == 0;
        ::close(fd);
        if (!written) {
            FwFile::RemoveFile(path);
            return false;
        }
    }
    if (FwFile::ReadAll(path, key) && key.size() == kKeyBytes) return true;
    EvDebug::Error(kTag, "the agent's key [%s] cannot be read", path.c_str());
    key.clear();
    return false;
}
}  // namespace

bool FwProtected::IsSealed(const std::string& text) { return text.compare(0, sizeof kPrefix - 1, kPrefix) == 0; }

bool FwProtected::Seal(const std::string& clear, std::string& out) {
    out.clear();
    std::string key;
    if (!LoadKey(key)) return false;
    std::string blob(kNonceBytes + clear.size() + kTagBytes, '\0');
    auto* nonce = reinterpret_cast<unsigned char*>(&blob[0]);
    if (RAND_bytes(nonce, kNonceBytes) != 1) return false;
    CipherCtx ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    int len = 0;
    auto* cipher = nonce + kNonceBytes;
    const bool ok = ctx && EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr,
                                              reinterpret_cast<const unsigned char*>(key.data()), nonce) == 1 &&
                    EVP_EncryptUpdate(ctx.get(), cipher, &len, reinterpret_cast<const unsigned char*>(clear.data()),
                                      static_cast<int>(clear.size())) == 1 &&
                    EVP_EncryptFinal_ex(ctx.get(), cipher + len, &len) == 1 &&
                    EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTagBytes, cipher + clear.size()) == 1;
    std::string text;
    if (!ok || !KdcBase64::Encode(blob, text)) return false;
    out = kPrefix + text;
    return true;
}

bool FwProtected::Open(const std::string& sealed, std::string& out) {
    out.clear();
    std::string blob, key;
    if (!IsSealed(sealed) || !KdcBase64::Decode(sealed.substr(sizeof kPrefix - 1), blob)) return false;
    if (blob.size() < kNonceBytes + kTagBytes || !LoadKey(key)) return false;
    const size_t cipherLen = blob.size() - kNonceBytes - kTagBytes;
    auto* nonce = reinterpret_cast<unsigned char*>(&blob[0]);
    std::string clear(cipherLen, '\0');
    CipherCtx ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    int len = 0;
    auto* plain = reinterpret_cast<unsigned char*>(&clear[0]);
    const bool ok =
        ctx &&
        EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, reinterpret_cast<const unsigned char*>(key.data()),
                           nonce) == 1 &&
        EVP_DecryptUpdate(ctx.get(), plain, &len, nonce + kNonceBytes, static_cast<int>(cipherLen)) == 1 &&
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTagBytes, nonce + kNonceBytes + cipherLen) == 1 &&
        EVP_DecryptFinal_ex(ctx.get(), plain + len, &len) == 1;
    if (!ok) return false;
    out = std::move(clear);
    return true;
}
