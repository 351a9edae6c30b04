#include "platform/Network.h"

#include <QCoreApplication>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QSslCertificate>
#include <QThread>

namespace Network {
namespace {

// The extra roots, read once per file name.
QList<QSslCertificate> extraRoots()
{
    static QMutex mutex;
    static QString cachedPath;
    static QList<QSslCertificate> cached;
    const QString path = qEnvironmentVariable("KOVANI_EXTRA_CA_CERTS");
    QMutexLocker lock(&mutex);
    if (path != cachedPath) {
        cachedPath = path;
        cached.clear();
        if (!path.isEmpty()) {
            QFile file(path);
            if (file.open(QIODevice::ReadOnly))
                cached = QSslCertificate::fromData(file.readAll(), QSsl::Pem);
            if (cached.isEmpty())
                qWarning("KOVANI_EXTRA_CA_CERTS: no certificate could be read from %s", qPrintable(path));
        }
    }
    return cached;
}

} // namespace

QSslConfiguration tlsConfiguration()
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    static const QList<QSslCertificate> systemRoots = QSslConfiguration::systemCaCertificates();
    QList<QSslCertificate> roots = systemRoots;
    roots += extraRoots();
    configuration.setCaCertificates(roots);
    return configuration;
}

QNetworkAccessManager& sharedAccessManager()
{
    Q_ASSERT(QCoreApplication::instance());
    Q_ASSERT(QThread::currentThread() == QCoreApplication::instance()->thread());
    static QPointer<QNetworkAccessManager> manager;
    if (!manager)
        manager = new QNetworkAccessManager(QCoreApplication::instance());
    return *manager;
}

} // namespace Network
