// A Windows instance's administrator password: EC2 hands it out encrypted
// with the public key of the instance's key pair (RSA, PKCS#1 v1.5); the
// private key is the user's own PEM file.
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <memory>

#include "bridge/wire/WireBackend.h"

using namespace bridgeimpl;

bool WireBackend::DecryptPassword(const std::string& keyFile, const std::string& encrypted, std::string& password,
                                  std::string& error) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(keyFile.c_str(), "r"), &std::fclose);
    if (!file) {
        error = "InvalidParameterValue: no private key of the key pair at " + keyFile;
        return false;
    }
    // A key protected by a passphrase is refused, never prompted for: a job
    // has no one to answer.
    pem_password_cb* noPassphrase = [](char*, int, int, void*) { return 0; };
    std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key(
        PEM_read_PrivateKey(file.get(), nullptr, noPassphrase, nullptr), &EVP_PKEY_free);
    if (!key) {
        error = "InvalidParameterValue: " + keyFile + " holds no private key in PEM without a passphrase";
        return false;
    }
    std::unique_ptr<EVP_PKEY_CTX, void (*)(EVP_PKEY_CTX*)> ctx(EVP_PKEY_CTX_new(key.get(), nullptr),
                                                                &EVP_PKEY_CTX_free);
    size_t length = 0;
    const auto* in = reinterpret_cast<const unsigned char*>(encrypted.data());
    const bool ready = ctx && EVP_PKEY_decrypt_init(ctx.get()) > 0 &&
                       EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) > 0;
    // Where OpenSSL would answer a wrong key with random bytes (implicit
    // rejection, from 3.2), ask for the error instead; older ones lack the
    // parameter, and refuse a wrong key anyway.
    if (ready) EVP_PKEY_CTX_ctrl_str(ctx.get(), "rsa_pkcs1_implicit_rejection", "0");
    if (!ready || EVP_PKEY_decrypt(ctx.get(), nullptr, &length, in, encrypted.size()) <= 0) {
        error = "InvalidParameterValue: the key in " + keyFile + " cannot decrypt the password (not an RSA key?)";
        return false;
    }
    std::string plain(length, '\0');
    if (EVP_PKEY_decrypt(ctx.get(), reinterpret_cast<unsigned char*>(&plain[0]), &length, in, encrypted.size()) <= 0) {
        error = "InvalidParameterValue: the key in " + keyFile + " is not the key pair the password was encrypted for";
        return false;
    }
    plain.resize(length);
    password = plain;
    return true;
}
