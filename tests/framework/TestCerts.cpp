#include "TestCerts.h"

#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <stdexcept>

namespace {
std::unique_ptr<EVP_PKEY, PKeyFree> NewKey() {
    std::unique_ptr<EVP_PKEY, PKeyFree> key(EVP_EC_gen("P-256"));
    if (!key) throw std::runtime_error("EC key generation failed");
    return key;
}

void AddExt(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    if (!ext) throw std::runtime_error("bad extension " + value);
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

TestCert NewCert(const std::string& cn, long serial) {
    TestCert c{std::unique_ptr<X509, X509Free>(X509_new()), NewKey()};
    X509* x = c.cert.get();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), serial);
    X509_gmtime_adj(X509_getm_notBefore(x), -3600);
    X509_gmtime_adj(X509_getm_notAfter(x), 24 * 3600);
    X509_set_pubkey(x, c.key.get());
    X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
    return c;
}
}  // namespace

std::string TestCert::Pem() const {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    PEM_write_bio_X509(bio.get(), cert.get());
    char* data = nullptr;
    long n = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(n));
}

TestCert MakeTestCa(const std::string& commonName) {
    static long serial = 1;
    TestCert ca = NewCert(commonName, serial++);
    X509* x = ca.cert.get();
    X509_set_issuer_name(x, X509_get_subject_name(x));
    AddExt(x, x, NID_basic_constraints, "critical,CA:TRUE");
    AddExt(x, x, NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExt(x, x, NID_subject_key_identifier, "hash");
    if (!X509_sign(x, ca.key.get(), EVP_sha256())) throw std::runtime_error("CA signing failed");
    return ca;
}

TestCert MakeTestServerCert(const TestCert& ca, const std::vector<std::string>& dnsNames) {
    static long serial = 1000;
    TestCert leaf = NewCert(dnsNames.empty() ? "server" : dnsNames.front(), serial++);
    X509* x = leaf.cert.get();
    X509_set_issuer_name(x, X509_get_subject_name(ca.cert.get()));
    std::string san = "IP:127.0.0.1";
    for (const auto& n : dnsNames) san += ",DNS:" + n;
    AddExt(x, ca.cert.get(), NID_subject_alt_name, san);
    AddExt(x, ca.cert.get(), NID_basic_constraints, "CA:FALSE");
    AddExt(x, ca.cert.get(), NID_ext_key_usage, "serverAuth");
    AddExt(x, ca.cert.get(), NID_authority_key_identifier, "keyid:always");
    if (!X509_sign(x, ca.key.get(), EVP_sha256())) throw std::runtime_error("leaf signing failed");
    return leaf;
}
