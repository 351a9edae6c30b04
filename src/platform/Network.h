#pragma once

#include <QSslConfiguration>

class QNetworkAccessManager;

// What every HTTPS request of the program shares.
namespace Network {

// TLS 1.2 or later, the peer's certificate always verified, trusting the system's roots plus the
// PEM certificates of the file named by KOVANI_EXTRA_CA_CERTS (when set; a file that cannot be
// read or holds no certificate adds nothing). Any thread.
QSslConfiguration tlsConfiguration();

// The process's one access manager for main-thread requests. Created on first use as a child of
// the application object, so it is never destroyed while Qt runs and never outlives it. Main
// thread only, after the application object exists.
QNetworkAccessManager& sharedAccessManager();

} // namespace Network
