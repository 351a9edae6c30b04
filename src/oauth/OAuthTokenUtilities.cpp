#include "oauth/OAuthTokenUtilities.h"

#include <QCryptographicHash>
#include <QMutex>
#include <QUrl>

#include <cerrno>
#include <sys/random.h>

namespace OAuthTokenUtilities {

namespace {

QMutex sourceMutex;
std::function<bool(void*, std::size_t)> testSource;

bool systemRandomBytes(void* buffer, std::size_t size)
{
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t filled = 0;
    while (filled < size) {
        const ssize_t n = getrandom(out + filled, size - filled, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        filled += static_cast<std::size_t>(n);
    }
    return true;
}

bool randomBytes(void* buffer, std::size_t size)
{
    std::function<bool(void*, std::size_t)> source;
    {
        QMutexLocker lock(&sourceMutex);
        source = testSource;
    }
    return source ? source(buffer, size) : systemRandomBytes(buffer, size);
}

} // namespace

void setRandomSourceForTesting(std::function<bool(void*, std::size_t)> source)
{
    QMutexLocker lock(&sourceMutex);
    testSource = std::move(source);
}

std::optional<QString> randomURLSafeStringWithSize(std::size_t size)
{
    QByteArray bytes(static_cast<qsizetype>(size), Qt::Uninitialized);
    if (!randomBytes(bytes.data(), size))
        return std::nullopt;
    return encodeBase64urlNoPadding(bytes);
}

QString encodeBase64urlNoPadding(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

std::optional<QByteArray> decodeBase64urlNoPadding(const QString& text)
{
    if (text.size() % 4 == 1)
        return std::nullopt;
    QByteArray padded;
    padded.reserve(text.size() + 3);
    for (QChar c : text) {
        const char16_t u = c.unicode();
        const bool ok = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '-' || u == '_';
        if (!ok)
            return std::nullopt;
        padded.append(u == '-' ? '+' : u == '_' ? '/' : static_cast<char>(u));
    }
    while (padded.size() % 4 != 0)
        padded.append('=');
    auto result = QByteArray::fromBase64Encoding(padded, QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return std::nullopt;
    return *result;
}

QByteArray sha256(const QString& text)
{
    return QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256);
}

std::optional<QString> redact(const std::optional<QString>& text)
{
    if (!text)
        return std::nullopt;
    if (text->isEmpty())
        return QString();
    if (text->size() >= 9)
        return text->left(6) + QStringLiteral("...[redacted]");
    return QStringLiteral("[redacted]");
}

QString formUrlEncode(const QString& text)
{
    if (text.isEmpty())
        return text;
    QByteArray encoded = QUrl::toPercentEncoding(text, QByteArrayLiteral(" *"), QByteArrayLiteral("~"));
    encoded.replace(' ', '+');
    return QString::fromLatin1(encoded);
}

} // namespace OAuthTokenUtilities
