#include "platform/Network.h"

#include "platform/Dispatch.h"

#include <QCoreApplication>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QSslCertificate>
#include <QThread>

#include <algorithm>
#include <cstring>
#include <utility>

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

namespace {

Limits& currentLimits()
{
    static Limits limits;
    return limits;
}

// Bytes the reply may hold before its connection stops reading: the body is taken from it as it
// arrives, so a fast server never fills memory faster than the checks run.
constexpr qint64 kReadBufferBytes = 256 * 1024;

// Qt reads the body of a 401 or 407 whole before it tells anything of the answer, then hands over
// at most a read buffer of it at once and finishes: a bounded buffer would cut such a body
// without a word. So the buffer is bounded only once the status is known to be another one.
bool isAuthenticationStatus(const QNetworkReply* reply)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return status == 401 || status == 407;
}

// A body that reads once and cannot be rewound.
class OneShotBody : public QIODevice {
public:
    OneShotBody(QByteArray data, QObject* parent)
        : QIODevice(parent), m_data(std::move(data))
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }
    bool reset() override { return false; }
    qint64 bytesAvailable() const override { return m_data.size() - m_position + QIODevice::bytesAvailable(); }
    bool atEnd() const override { return m_position >= m_data.size() && QIODevice::bytesAvailable() == 0; }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 count = std::min<qint64>(maxSize, m_data.size() - m_position);
        if (count > 0) {
            std::memcpy(data, m_data.constData() + m_position, size_t(count));
            m_position += count;
        }
        return count;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray m_data;
    qint64 m_position = 0;
};

QString sizeText(qint64 bytes)
{
    constexpr qint64 mebibyte = 1024 * 1024;
    if (bytes >= mebibyte && bytes % mebibyte == 0)
        return QStringLiteral("%1 MiB").arg(bytes / mebibyte);
    return QStringLiteral("%1 bytes").arg(bytes);
}

QString secondsText(int ms)
{
    if (ms % 1000 == 0)
        return ms == 1000 ? QStringLiteral("1 second") : QStringLiteral("%1 seconds").arg(ms / 1000);
    return QStringLiteral("%1 seconds").arg(double(ms) / 1000.0, 0, 'f', 1);
}

} // namespace

Limits limits() { return currentLimits(); }

void setLimits(const Limits& limits) { currentLimits() = limits; }

QNetworkReply* sendOnce(QNetworkAccessManager& manager, QNetworkRequest request, const QByteArray& method,
                        const QByteArray& body)
{
    // Streamed, not buffered by Qt (a buffered copy could be rewound); that needs the length.
    request.setHeader(QNetworkRequest::ContentLengthHeader, body.size());
    request.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
    auto* device = new OneShotBody(body, nullptr);
    QNetworkReply* reply = manager.sendCustomRequest(request, method, device);
    device->setParent(reply); // read until the reply finishes, and goes with it
    return reply;
}

BodyReader* BodyReader::attach(QNetworkReply* reply, const Limits& limits, qint64 startedMsAgo)
{
    return new BodyReader(reply, limits, startedMsAgo);
}

BodyReader::BodyReader(QNetworkReply* reply, const Limits& limits, qint64 startedMsAgo)
    : QObject(reply), m_reply(reply), m_limits(limits), m_pending(Dispatch::pendingWork())
{
    reply->setReadBufferSize(0); // unbounded until the status is known; see isAuthenticationStatus
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this]() { fail(Failure::deadline); });
    const qint64 left = qint64(m_limits.deadlineMs) - std::max<qint64>(startedMsAgo, 0);
    m_deadline.start(int(std::max<qint64>(0, left)));
    connect(reply, &QNetworkReply::metaDataChanged, this, [this]() {
        if (m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid() && !isAuthenticationStatus(m_reply))
            m_reply->setReadBufferSize(kReadBufferBytes);
        const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > m_limits.maxBodyBytes)
            fail(Failure::tooLarge);
    });
    connect(reply, &QNetworkReply::readyRead, this, &BodyReader::read);
    connect(reply, &QNetworkReply::finished, this, [this]() { m_deadline.stop(); });
}

void BodyReader::read()
{
    if (m_failure != Failure::none)
        return;
    const qint64 available = m_reply->bytesAvailable();
    if (m_body.size() + available > m_limits.maxBodyBytes) {
        fail(Failure::tooLarge);
        return;
    }
    if (available > 0)
        m_body.append(m_reply->read(available));
}

QByteArray BodyReader::takeBody()
{
    read();
    return std::exchange(m_body, QByteArray());
}

void BodyReader::fail(Failure failure)
{
    if (m_failure != Failure::none)
        return;
    m_failure = failure;
    m_deadline.stop();
    m_body.clear();
    // A 401 or 407 body arrives when its answer is done, and the reply finishes right after;
    // aborting it then would make Qt report a second error.
    if (!m_reply->isFinished() && !(failure == Failure::tooLarge && isAuthenticationStatus(m_reply)))
        m_reply->abort(); // finishes the reply at once
}

QString BodyReader::failureText() const
{
    switch (m_failure) {
    case Failure::tooLarge:
        return QStringLiteral("The server's answer is larger than %1; it was not read.").arg(sizeText(m_limits.maxBodyBytes));
    case Failure::deadline:
        return QStringLiteral("The server did not finish its answer within %1.").arg(secondsText(m_limits.deadlineMs));
    case Failure::none:
        break;
    }
    return QString();
}

} // namespace Network
