#include "support/TestCertificates.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>

#include <memory>
#include <stdexcept>

namespace TestCertificates {
namespace {

void openssl(const QString& folder, const QStringList& arguments)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QStringLiteral("/usr/bin/openssl"), arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw std::runtime_error("openssl " + arguments.join(u' ').toStdString() + " failed: "
                                 + process.readAll().toStdString());
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + path.toStdString());
    return file.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

const QStringList kEcKey{QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                         QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};

const QByteArray kServerExtensions = "subjectAltName=IP:127.0.0.1,IP:::1,DNS:localhost\n"
                                     "basicConstraints=critical,CA:FALSE\n"
                                     "keyUsage=critical,digitalSignature,keyEncipherment\n"
                                     "extendedKeyUsage=serverAuth\n";

Set load(const QString& caFile, const QString& certFile, const QString& keyFile)
{
    Set set;
    set.caFile = caFile;
    set.certFile = certFile;
    set.keyFile = keyFile;
    set.ca = QSslCertificate(readFile(caFile), QSsl::Pem);
    set.certificate = QSslCertificate(readFile(certFile), QSsl::Pem);
    set.key = QSslKey(readFile(keyFile), QSsl::Ec, QSsl::Pem);
    if (set.ca.isNull() || set.certificate.isNull() || set.key.isNull())
        throw std::runtime_error("generated test certificates do not load");
    return set;
}

QString makeFolder(const QString& name)
{
    const QString folder = TestEnvironment::home() + QStringLiteral("/tls/") + name;
    QDir().mkpath(folder);
    return folder;
}

Set makeTrusted()
{
    const QString d = makeFolder(QStringLiteral("trusted"));
    openssl(d, QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + kEcKey
                   + QStringList{QStringLiteral("-keyout"), QStringLiteral("ca.key"), QStringLiteral("-out"),
                                 QStringLiteral("ca.pem"), QStringLiteral("-days"), QStringLiteral("30"),
                                 QStringLiteral("-subj"), QStringLiteral("/CN=Kovani Test CA"),
                                 QStringLiteral("-addext"), QStringLiteral("basicConstraints=critical,CA:TRUE"),
                                 QStringLiteral("-addext"), QStringLiteral("keyUsage=critical,keyCertSign,cRLSign")});
    openssl(d, QStringList{QStringLiteral("req")} + kEcKey
                   + QStringList{QStringLiteral("-keyout"), QStringLiteral("server.key"), QStringLiteral("-out"),
                                 QStringLiteral("server.csr"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1")});
    writeFile(d + QStringLiteral("/server.ext"), kServerExtensions);
    openssl(d, {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), QStringLiteral("server.csr"),
                QStringLiteral("-CA"), QStringLiteral("ca.pem"), QStringLiteral("-CAkey"), QStringLiteral("ca.key"),
                QStringLiteral("-set_serial"), QStringLiteral("2"), QStringLiteral("-days"), QStringLiteral("30"),
                QStringLiteral("-extfile"), QStringLiteral("server.ext"), QStringLiteral("-out"),
                QStringLiteral("server.pem")});
    return load(d + QStringLiteral("/ca.pem"), d + QStringLiteral("/server.pem"), d + QStringLiteral("/server.key"));
}

Set makeUntrusted()
{
    const QString d = makeFolder(QStringLiteral("untrusted"));
    writeFile(d + QStringLiteral("/server.ext"), kServerExtensions);
    openssl(d, QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + kEcKey
                   + QStringList{QStringLiteral("-keyout"), QStringLiteral("server.key"), QStringLiteral("-out"),
                                 QStringLiteral("server.pem"), QStringLiteral("-days"), QStringLiteral("30"),
                                 QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                                 QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1,IP:::1,DNS:localhost")});
    return load(d + QStringLiteral("/server.pem"), d + QStringLiteral("/server.pem"), d + QStringLiteral("/server.key"));
}

QMutex mutex;

} // namespace

const Set& trusted()
{
    QMutexLocker lock(&mutex);
    static std::unique_ptr<Set> set;
    if (!set)
        set = std::make_unique<Set>(makeTrusted());
    return *set;
}

const Set& untrusted()
{
    QMutexLocker lock(&mutex);
    static std::unique_ptr<Set> set;
    if (!set)
        set = std::make_unique<Set>(makeUntrusted());
    return *set;
}

void trustTestCA()
{
    qputenv("KOVANI_EXTRA_CA_CERTS", trusted().caFile.toLocal8Bit());
}

} // namespace TestCertificates
