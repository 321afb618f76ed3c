#include "TestTlsCertificates.h"

#include <QList>
#include <QMutex>
#include <QSslConfiguration>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace {

struct Made
{
    EVP_PKEY *key = nullptr;
    X509 *cert = nullptr;
    ~Made()
    {
        X509_free(cert);
        EVP_PKEY_free(key);
    }
};

bool AddExt(X509 *cert, X509 *issuer, int nid, const char *value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext)
        return false;
    const bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

// Issuer null: self-signed.
bool MakeCert(Made &out, const char *commonName, long serial, bool isCa, const Made *issuer)
{
    out.key = EVP_EC_gen("P-256");
    out.cert = X509_new();
    if (!out.key || !out.cert)
        return false;
    X509_set_version(out.cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(out.cert), serial);
    X509_gmtime_adj(X509_getm_notBefore(out.cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(out.cert), 30L * 24 * 3600);
    X509_set_pubkey(out.cert, out.key);
    X509_NAME *name = X509_get_subject_name(out.cert);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>("Tessaly tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>(commonName), -1, -1, 0);
    X509 *issuerCert = issuer ? issuer->cert : out.cert;
    EVP_PKEY *issuerKey = issuer ? issuer->key : out.key;
    X509_set_issuer_name(out.cert, X509_get_subject_name(issuerCert));
    using Extensions = std::initializer_list<std::pair<int, const char *>>;
    const Extensions ca{{NID_basic_constraints, "critical,CA:TRUE"}, {NID_key_usage, "critical,keyCertSign,cRLSign"}};
    const Extensions server{{NID_basic_constraints, "critical,CA:FALSE"},
                            {NID_key_usage, "critical,digitalSignature,keyEncipherment"},
                            {NID_ext_key_usage, "serverAuth"},
                            {NID_subject_alt_name, "IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost"}};
    bool ok = AddExt(out.cert, issuerCert, NID_subject_key_identifier, "hash");
    for (const auto &ext : isCa ? ca : server)
        ok = ok && AddExt(out.cert, issuerCert, ext.first, ext.second);
    return ok && X509_sign(out.cert, issuerKey, EVP_sha256()) > 0;
}

// What write put into a memory BIO.
template <typename Write>
QByteArray WrittenPem(Write write)
{
    BIO *bio = BIO_new(BIO_s_mem());
    write(bio);
    char *data = nullptr;
    const long len = BIO_get_mem_data(bio, &data);
    QByteArray pem(data, int(len));
    BIO_free(bio);
    return pem;
}

QByteArray CertPem(X509 *cert)
{
    return WrittenPem([cert](BIO *bio) { PEM_write_bio_X509(bio, cert); });
}

QByteArray KeyPem(EVP_PKEY *key)
{
    return WrittenPem([key](BIO *bio) {
        PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    });
}

TestTlsCertificates::Identity ToIdentity(const Made &m)
{
    TestTlsCertificates::Identity id;
    id.certificate = QSslCertificate(CertPem(m.cert), QSsl::Pem);
    id.key = QSslKey(KeyPem(m.key), QSsl::Ec, QSsl::Pem, QSsl::PrivateKey);
    return id;
}

} // namespace

TestTlsCertificates::TestTlsCertificates()
{
    Made caMade, serverMade, strangerMade;
    if (!MakeCert(caMade, "Tessaly test CA", 1, true, nullptr)
        || !MakeCert(serverMade, "127.0.0.1", 2, false, &caMade)
        || !MakeCert(strangerMade, "127.0.0.1", 3, false, nullptr))
        return;
    ca = QSslCertificate(CertPem(caMade.cert), QSsl::Pem);
    trusted = ToIdentity(serverMade);
    untrusted = ToIdentity(strangerMade);
    valid = !ca.isNull() && !trusted.certificate.isNull() && !trusted.key.isNull()
            && !untrusted.certificate.isNull() && !untrusted.key.isNull();
}

const TestTlsCertificates &TestTlsCertificates::Instance()
{
    static const TestTlsCertificates instance;
    return instance;
}

void TestTlsCertificates::InstallTrust()
{
    static QMutex mutex;
    static bool installed = false;
    QMutexLocker locker(&mutex);
    const TestTlsCertificates &certs = Instance();
    if (installed || !certs.valid)
        return;
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    QList<QSslCertificate> cas = config.caCertificates();
    cas.append(certs.ca);
    config.setCaCertificates(cas);
    QSslConfiguration::setDefaultConfiguration(config);
    installed = true;
}
