#pragma once

#include <QSslCertificate>
#include <QSslKey>

// Certificates made once per test process, in memory, with libcrypto:
//  - a test CA, and a server certificate for 127.0.0.1 that it signed (trusted after InstallTrust);
//  - a self-signed certificate for 127.0.0.1 that nobody trusts (proves that TLS errors fail).
// Nothing is written to disk and nothing touches the system trust store.
class TestTlsCertificates
{
public:
    struct Identity
    {
        QSslCertificate certificate;
        QSslKey key;
    };

    // The process-wide instance; certificates are generated on first use.
    static const TestTlsCertificates &Instance();

    // Adds the test CA to QSslConfiguration::defaultConfiguration(), so every later request of
    // this process trusts the server certificate. Idempotent; called by TestHttpServer for TLS.
    static void InstallTrust();

    bool IsValid() const { return valid; }
    const Identity &Trusted() const { return trusted; }
    const Identity &Untrusted() const { return untrusted; }

private:
    TestTlsCertificates();

    bool valid = false;
    QSslCertificate ca;
    Identity trusted;
    Identity untrusted;
};
