#include "signin/SessionCookieStorage.h"

#include <QDateTime>
#include <QHostAddress>
#include <QMutexLocker>

namespace {

bool isExpired(const QNetworkCookie& cookie, const QDateTime& now)
{
    return !cookie.isSessionCookie() && cookie.expirationDate().isValid() && cookie.expirationDate() < now;
}

bool sameIdentity(const QNetworkCookie& a, const QNetworkCookie& b)
{
    return a.name() == b.name() && a.domain().compare(b.domain(), Qt::CaseInsensitive) == 0
        && a.path() == b.path();
}

QString withoutLeadingDot(const QString& domain)
{
    return domain.startsWith(QLatin1Char('.')) ? domain.mid(1) : domain;
}

} // namespace

SessionCookieStorage::SessionCookieStorage() = default;

SessionCookieStorage* SessionCookieStorage::shared()
{
    static SessionCookieStorage* jar = new SessionCookieStorage();
    return jar;
}

SessionCookieStorage::AcceptPolicy SessionCookieStorage::policy() const
{
    QMutexLocker lock(&m_mutex);
    return m_policy;
}

void SessionCookieStorage::setPolicy(AcceptPolicy policy)
{
    QMutexLocker lock(&m_mutex);
    m_policy = policy;
}

QList<QNetworkCookie> SessionCookieStorage::cookies() const
{
    QMutexLocker lock(&m_mutex);
    return m_cookies;
}

void SessionCookieStorage::setCookie(const QNetworkCookie& cookie)
{
    QMutexLocker lock(&m_mutex);
    storeLocked(cookie);
}

void SessionCookieStorage::removeAllCookies()
{
    QMutexLocker lock(&m_mutex);
    m_cookies.clear();
}

bool SessionCookieStorage::isLocalHost(const QString& host)
{
    return host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 || host == QLatin1String("::1")
        || host == QLatin1String("127.0.0.1");
}

bool SessionCookieStorage::storeLocked(const QNetworkCookie& cookie)
{
    if (m_policy == AcceptPolicy::Never)
        return false;
    if (cookie.name().isEmpty() || cookie.domain().isEmpty() || cookie.path().isEmpty())
        return false;
    m_cookies.removeIf([&](const QNetworkCookie& stored) { return sameIdentity(stored, cookie); });
    if (isExpired(cookie, QDateTime::currentDateTimeUtc()))
        return false;
    m_cookies.append(cookie);
    return true;
}

void SessionCookieStorage::removeExpiredLocked() const
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    m_cookies.removeIf([&](const QNetworkCookie& c) { return isExpired(c, now); });
}

QList<QNetworkCookie> SessionCookieStorage::cookiesForUrl(const QUrl& url) const
{
    QMutexLocker lock(&m_mutex);
    removeExpiredLocked();
    const QString host = url.host().toLower();
    const QString path = url.path().isEmpty() ? QStringLiteral("/") : url.path();
    const bool https = url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    QList<QNetworkCookie> found;
    for (const QNetworkCookie& cookie : m_cookies) {
        const QString domain = cookie.domain().toLower();
        bool domainMatches = false;
        if (isLocalHost(host)) {
            domainMatches = isLocalHost(domain) || domain == QLatin1String("localhost.local");
        } else {
            const QString dotted = domain.startsWith(QLatin1Char('.')) ? domain : QLatin1Char('.') + domain;
            domainMatches = (QLatin1Char('.') + host).endsWith(dotted);
        }
        if (!domainMatches)
            continue;
        if (cookie.path() != QLatin1String("/") && !path.startsWith(cookie.path()))
            continue;
        if (cookie.isSecure() && !https)
            continue;
        found.append(cookie);
    }
    return found;
}

bool SessionCookieStorage::setCookiesFromUrl(const QList<QNetworkCookie>& cookieList, const QUrl& url)
{
    QMutexLocker lock(&m_mutex);
    // No request names a main document, so that policy stores nothing.
    if (m_policy != AcceptPolicy::Always)
        return false;
    const QString host = url.host().toLower();
    bool added = false;
    for (QNetworkCookie cookie : cookieList) {
        cookie.normalize(url);
        const QString domain = withoutLeadingDot(cookie.domain().toLower());
        // The sending host or one of its parent domains only (never a child or unrelated domain);
        // validateCookie refuses public suffixes such as "com" or "co.uk".
        // An address has no parent domains.
        const bool isAddress = !QHostAddress(host).isNull();
        const bool ownOrParent = !domain.isEmpty()
            && (domain == host || (!isAddress && host.endsWith(QLatin1Char('.') + domain)));
        if (!ownOrParent || !validateCookie(cookie, url))
            continue;
        added = storeLocked(cookie) || added;
    }
    return added;
}

bool SessionCookieStorage::insertCookie(const QNetworkCookie& cookie)
{
    QMutexLocker lock(&m_mutex);
    return storeLocked(cookie);
}

bool SessionCookieStorage::updateCookie(const QNetworkCookie& cookie)
{
    QMutexLocker lock(&m_mutex);
    return storeLocked(cookie);
}

bool SessionCookieStorage::deleteCookie(const QNetworkCookie& cookie)
{
    QMutexLocker lock(&m_mutex);
    return m_cookies.removeIf([&](const QNetworkCookie& stored) { return sameIdentity(stored, cookie); }) > 0;
}
