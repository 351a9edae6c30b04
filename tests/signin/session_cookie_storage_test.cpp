// The fetchers' cookie jar: what is stored, what a request to a URL carries, and which response
// cookies are refused.
#include "signin/SessionCookieStorage.h"
#include "support/TestEnvironment.h"

#include <QDateTime>
#include <QThread>
#include <gtest/gtest.h>

namespace {

QNetworkCookie cookie(const char* name, const QString& domain, const QString& path = QStringLiteral("/"),
                      bool secure = false)
{
    QNetworkCookie c(name, "v");
    c.setDomain(domain);
    c.setPath(path);
    c.setSecure(secure);
    return c;
}

QStringList namesFor(const SessionCookieStorage& jar, const char* url)
{
    QStringList names;
    for (const QNetworkCookie& c : jar.cookiesForUrl(QUrl(QString::fromLatin1(url))))
        names.append(QString::fromLatin1(c.name()));
    return names;
}

} // namespace

TEST(SessionCookieStorage, LookupMatchesDomainPathAndSecurity)
{
    SessionCookieStorage jar;
    jar.setCookie(cookie("parentDot", QStringLiteral(".example.com")));
    jar.setCookie(cookie("parentBare", QStringLiteral("Example.COM")));
    jar.setCookie(cookie("host", QStringLiteral("api.example.com")));
    jar.setCookie(cookie("scoped", QStringLiteral("example.com"), QStringLiteral("/oauth2")));
    jar.setCookie(cookie("secure", QStringLiteral("example.com"), QStringLiteral("/"), true));
    jar.setCookie(cookie("local", QStringLiteral("localhost.local")));
    jar.setCookie(cookie("loopback", QStringLiteral("127.0.0.1")));

    struct Case {
        const char* url;
        QStringList names;
    } cases[] = {
        {"https://api.example.com/oauth2/v3/userinfo", {"parentDot", "parentBare", "host", "scoped", "secure"}},
        {"http://api.example.com/oauth2/v3/userinfo", {"parentDot", "parentBare", "host", "scoped"}},
        {"https://EXAMPLE.com/other", {"parentDot", "parentBare", "secure"}},
        {"https://deep.api.example.com/", {"parentDot", "parentBare", "host", "secure"}},
        {"https://notexample.com/", {}},
        {"https://example.com.evil.test/", {}},
        {"https://other.test/", {}},
        {"http://127.0.0.1:8000/", {"local", "loopback"}},
        {"http://LOCALHOST/", {"local", "loopback"}},
        {"http://[::1]/", {"local", "loopback"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(namesFor(jar, c.url), c.names) << c.url;
}

TEST(SessionCookieStorage, StoreReplacesSameIdentityAndDropsIncompleteOrExpired)
{
    SessionCookieStorage jar;
    QNetworkCookie first = cookie("a", QStringLiteral("example.com"));
    jar.setCookie(first);
    QNetworkCookie replacement("a", "new");
    replacement.setDomain(QStringLiteral("example.com"));
    replacement.setPath(QStringLiteral("/"));
    jar.setCookie(replacement);
    jar.setCookie(cookie("a", QStringLiteral("example.com"), QStringLiteral("/other"))); // other path: kept apart
    ASSERT_EQ(jar.cookies().size(), 2);
    EXPECT_EQ(jar.cookies()[0].value(), QByteArray("new"));

    jar.setCookie(cookie("", QStringLiteral("example.com")));
    jar.setCookie(cookie("nodomain", QString()));
    jar.setCookie(cookie("nopath", QStringLiteral("example.com"), QString()));
    EXPECT_EQ(jar.cookies().size(), 2);

    // An expired cookie is not stored, and removes the one it names.
    QNetworkCookie expired = cookie("a", QStringLiteral("example.com"));
    expired.setExpirationDate(QDateTime::currentDateTimeUtc().addSecs(-60));
    jar.setCookie(expired);
    ASSERT_EQ(jar.cookies().size(), 1);
    EXPECT_EQ(jar.cookies()[0].path(), QStringLiteral("/other"));

    // Under accept-never nothing is stored.
    jar.setPolicy(SessionCookieStorage::AcceptPolicy::Never);
    jar.setCookie(cookie("b", QStringLiteral("example.com")));
    EXPECT_EQ(jar.cookies().size(), 1);
}

TEST(SessionCookieStorage, CookiesThatExpireAreRemovedAtLookup)
{
    SessionCookieStorage jar;
    QNetworkCookie shortLived = cookie("s", QStringLiteral("example.com"));
    shortLived.setExpirationDate(QDateTime::currentDateTimeUtc().addMSecs(1100));
    jar.setCookie(shortLived);
    jar.setCookie(cookie("session", QStringLiteral("example.com")));
    EXPECT_EQ(namesFor(jar, "https://example.com/"), (QStringList{"s", "session"}));
    // Once its time has passed.
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return QDateTime::currentDateTimeUtc() > shortLived.expirationDate(); }));
    EXPECT_EQ(namesFor(jar, "https://example.com/"), (QStringList{"session"}));
    EXPECT_EQ(jar.cookies().size(), 1);
}

TEST(SessionCookieStorage, ResponseCookiesOnlyForTheSenderOrItsParentDomains)
{
    struct Case {
        const char* url;
        const char* header;
        bool stored;
        const char* domain; // the stored domain
    } cases[] = {
        {"https://api.example.com/x", "a=1", true, "api.example.com"},
        {"https://api.example.com/x", "a=1; Domain=example.com", true, ".example.com"},
        {"https://api.example.com/x", "a=1; Domain=.example.com", true, ".example.com"},
        {"https://api.example.com/x", "a=1; Domain=api.example.com", true, ".api.example.com"},
        {"https://api.example.com/x", "a=1; Domain=other.test", false, ""},
        {"https://api.example.com/x", "a=1; Domain=deeper.api.example.com", false, ""},
        {"https://api.example.com/x", "a=1; Domain=ample.com", false, ""},
        {"https://api.example.com/x", "a=1; Domain=com", false, ""},
        {"https://www.example.co.uk/x", "a=1; Domain=co.uk", false, ""},
        {"https://www.example.co.uk/x", "a=1; Domain=example.co.uk", true, ".example.co.uk"},
        {"http://127.0.0.1:9000/x", "a=1", true, "127.0.0.1"},
        {"http://127.0.0.1:9000/x", "a=1; Domain=0.0.1", false, ""},
        {"http://127.0.0.1:9000/x", "a=1; Domain=example.com", false, ""},
    };
    for (const Case& c : cases) {
        SessionCookieStorage jar;
        const QList<QNetworkCookie> parsed = QNetworkCookie::parseCookies(c.header);
        jar.setCookiesFromUrl(parsed, QUrl(QString::fromLatin1(c.url)));
        if (!c.stored) {
            EXPECT_TRUE(jar.cookies().isEmpty()) << c.url << " " << c.header;
            continue;
        }
        ASSERT_EQ(jar.cookies().size(), 1) << c.url << " " << c.header;
        EXPECT_EQ(jar.cookies()[0].domain(), QString::fromLatin1(c.domain)) << c.header;
        EXPECT_FALSE(jar.cookiesForUrl(QUrl(QString::fromLatin1(c.url))).isEmpty()) << c.header;
    }
}

TEST(SessionCookieStorage, ResponseCookiesFollowTheAcceptPolicy)
{
    const QUrl url(QStringLiteral("https://api.example.com/x"));
    const QList<QNetworkCookie> parsed = QNetworkCookie::parseCookies("a=1");
    for (auto policy : {SessionCookieStorage::AcceptPolicy::Never,
                        SessionCookieStorage::AcceptPolicy::OnlyFromMainDocumentDomain}) {
        SessionCookieStorage jar;
        jar.setPolicy(policy);
        jar.setCookiesFromUrl(parsed, url);
        EXPECT_TRUE(jar.cookies().isEmpty());
    }
}
