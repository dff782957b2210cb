#pragma once
// Throwaway certificates made at test time: a CA and server certificates it
// signs, with EC P-256 keys so that generation costs next to nothing.
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>
#include <vector>

struct X509Free { void operator()(X509* p) const { X509_free(p); } };
struct PKeyFree { void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); } };

struct TestCert {
    std::unique_ptr<X509, X509Free> cert;
    std::unique_ptr<EVP_PKEY, PKeyFree> key;
    std::string Pem() const;
};

TestCert MakeTestCa(const std::string& commonName);
// A server certificate for the given DNS names (and 127.0.0.1), signed by ca.
TestCert MakeTestServerCert(const TestCert& ca, const std::vector<std::string>& dnsNames);
