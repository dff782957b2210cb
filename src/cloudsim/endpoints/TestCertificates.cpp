#include "cloudsim/endpoints/TestCertificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace cloudsim::endpoints {
namespace {

struct Free {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
    void operator()(X509* p) const { X509_free(p); }
    void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
    void operator()(FILE* p) const { std::fclose(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Free>;
using Cert = std::unique_ptr<X509, Free>;

void Check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("test certificates: ") + what + " failed");
}

Key NewKey() {
    Key key(EVP_EC_gen("P-256"));
    Check(key != nullptr, "key generation");
    return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    std::unique_ptr<X509_EXTENSION, Free> ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str()));
    Check(ext && X509_add_ext(cert, ext.get(), -1) == 1, "certificate extension");
}

// Issued by issuer (signed later); a self-issued CA when issuer is null.
Cert NewCert(EVP_PKEY* key, const std::string& commonName, X509* issuer) {
    Cert cert(X509_new());
    Check(cert != nullptr, "certificate allocation");
    X509_set_version(cert.get(), 2);
    unsigned char serial[16];
    Check(RAND_bytes(serial, sizeof serial) == 1, "serial number");
    serial[0] &= 0x7f;
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    Check(bn && BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get())), "serial number");
    BN_free(bn);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 3600);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(commonName.c_str()),
                               -1, -1, 0);
    X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : name);
    X509* signer = issuer ? issuer : cert.get();
    if (!issuer) {
        AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
        AddExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature,keyEncipherment");
        AddExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
    }
    AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
    return cert;
}

void Sign(X509* cert, EVP_PKEY* key) { Check(X509_sign(cert, key, EVP_sha256()) > 0, "certificate signing"); }

std::unique_ptr<FILE, Free> Create(const std::string& path) {
    std::unique_ptr<FILE, Free> f(std::fopen(path.c_str(), "w"));
    Check(f != nullptr, ("creating " + path).c_str());
    return f;
}

}  // namespace

CertificateFiles WriteTestCertificates(const std::string& folder, const std::vector<std::string>& dnsNames,
                                       const std::vector<std::string>& ipAddresses) {
    Key caKey = NewKey();
    Cert ca = NewCert(caKey.get(), "Simulated endpoints test CA", nullptr);
    Sign(ca.get(), caKey.get());

    Key serverKey = NewKey();
    Cert server = NewCert(serverKey.get(), dnsNames.empty() ? "localhost" : dnsNames.front(), ca.get());
    std::string san;
    for (const std::string& dns : dnsNames) san += (san.empty() ? "DNS:" : ",DNS:") + dns;
    for (const std::string& ip : ipAddresses) san += (san.empty() ? "IP:" : ",IP:") + ip;
    Check(!san.empty(), "subject alternative names");
    AddExtension(server.get(), ca.get(), NID_subject_alt_name, san);
    AddExtension(server.get(), ca.get(), NID_authority_key_identifier, "keyid:always");
    Sign(server.get(), caKey.get());

    CertificateFiles files{folder + "/ca.pem", folder + "/server.pem", folder + "/server-key.pem"};
    Check(PEM_write_X509(Create(files.caFile).get(), ca.get()) == 1, "writing the CA");
    Check(PEM_write_X509(Create(files.certFile).get(), server.get()) == 1, "writing the certificate");
    Check(PEM_write_PrivateKey(Create(files.keyFile).get(), serverKey.get(), nullptr, nullptr, 0, nullptr,
                               nullptr) == 1,
          "writing the key");
    return files;
}

std::vector<std::string> EndpointDnsNames(const std::vector<std::string>& regions) {
    std::vector<std::string> names;
    for (const std::string& region : regions) names.push_back("ebs." + region + ".amazonaws.com");
    names.push_back("ip-ranges.amazonaws.com");
    names.push_back("localhost");
    return names;
}

std::vector<std::string> EndpointIpAddresses() { return {"169.254.169.254", "127.0.0.1"}; }

}  // namespace cloudsim::endpoints
