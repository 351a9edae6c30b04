#pragma once

// Certificates for the loopback HTTPS servers of the tests, made with `openssl` the first time
// a test process asks for them, in a folder of the process's temporary home.
//
//   const TestCertificates::Set& tls = TestCertificates::trusted();
//   LoopbackHttpServer server(LoopbackHttpServer::Mode::https);  // serves tls.certificate
//   TestCertificates::trustTestCA();   // KOVANI_EXTRA_CA_CERTS = tls.caFile for this process
//
// `trusted()`: a test CA and a server certificate signed by it for 127.0.0.1, ::1 and
// localhost. `untrusted()`: a self-signed server certificate for the same names that no CA the
// program trusts has signed (for tests of refused connections).

#include <QSslCertificate>
#include <QSslKey>
#include <QString>

namespace TestCertificates {

struct Set {
    QString caFile;   // PEM of the CA (for untrusted(): the self-signed certificate itself)
    QString certFile; // PEM of the server certificate
    QString keyFile;  // PEM of its private key
    QSslCertificate ca;
    QSslCertificate certificate;
    QSslKey key;
};

// Both throw std::runtime_error when openssl fails.
const Set& trusted();
const Set& untrusted();

// Points KOVANI_EXTRA_CA_CERTS of this process at trusted().caFile.
void trustTestCA();

} // namespace TestCertificates
