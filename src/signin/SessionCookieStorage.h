#pragma once

#include <QList>
#include <QMutex>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QUrl>

// The in-memory cookie jar of the fetchers. It lives for the process; every fetcher without a jar
// of its own shares `shared()`.
class SessionCookieStorage : public QNetworkCookieJar {
    Q_OBJECT

public:
    enum class AcceptPolicy { Always, Never, OnlyFromMainDocumentDomain };

    SessionCookieStorage();

    // The process-wide jar; never destroyed, owned by no manager.
    static SessionCookieStorage* shared();

    AcceptPolicy policy() const;
    void setPolicy(AcceptPolicy policy);

    // Stored cookies in storing order.
    QList<QNetworkCookie> cookies() const;
    // Stores one cookie: it needs a name, a domain and a path; it replaces the stored cookie of the
    // same name, domain and path; an expired cookie removes that one and is not stored.
    void setCookie(const QNetworkCookie& cookie);
    void removeAllCookies();

    // What a request to `url` carries (expired cookies are dropped first).
    QList<QNetworkCookie> cookiesForUrl(const QUrl& url) const override;
    // The cookies of a response from `url`: each is stored only when it names the sending host or
    // a parent domain of it that is not a public suffix.
    bool setCookiesFromUrl(const QList<QNetworkCookie>& cookieList, const QUrl& url) override;

    bool insertCookie(const QNetworkCookie& cookie) override;
    bool updateCookie(const QNetworkCookie& cookie) override;
    bool deleteCookie(const QNetworkCookie& cookie) override;

    static bool isLocalHost(const QString& host);

private:
    bool storeLocked(const QNetworkCookie& cookie);
    void removeExpiredLocked() const;

    mutable QMutex m_mutex;
    mutable QList<QNetworkCookie> m_cookies;
    AcceptPolicy m_policy = AcceptPolicy::Always;
};
