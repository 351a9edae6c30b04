// Query parsing and encoding, scopes, random values, base64url, redaction, form encoding and the
// error builders of the OAuth client.
#include "oauth/OAuthErrorUtilities.h"
#include "oauth/OAuthException.h"
#include "oauth/OAuthScopeUtilities.h"
#include "oauth/OAuthTokenUtilities.h"
#include "oauth/OAuthURLQueryComponent.h"
#include "support/TestFiles.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QSet>
#include <gtest/gtest.h>

namespace {

QJsonObject parse(const QString& url) { return OAuthURLQueryComponent(QUrl(url)).dictionaryValue(); }

TEST(OAuthURLQueryComponent, ParsesRedirectQueries)
{
    const QJsonObject p = parse(QStringLiteral("com.example.app:/oauth2callback?a=1&a=2&b=x+y&c=%2B&d=&e&f=%26%3D#g=h"));
    EXPECT_EQ(p.value("a").toArray(), (QJsonArray{"1", "2"}));
    EXPECT_EQ(p.value("b").toString(), "x y");
    EXPECT_EQ(p.value("c").toString(), "+");
    ASSERT_TRUE(p.contains("d"));
    EXPECT_EQ(p.value("d").toString(), "");
    EXPECT_FALSE(p.contains("e")) << "an item without '=' is skipped";
    EXPECT_EQ(p.value("f").toString(), "&=");
    EXPECT_FALSE(p.contains("g")) << "the fragment is not read";
    EXPECT_TRUE(parse(QStringLiteral("https://h/p")).isEmpty());
}

TEST(OAuthURLQueryComponent, DecodesUtf8AndDropsItemsThatAreNotUtf8)
{
    const QJsonObject p = parse(QStringLiteral("https://h/p?n=%C3%A9t%C3%A9&bad=%FF%FE&ok=1"));
    EXPECT_EQ(p.value("n").toString(), QStringLiteral("\u00e9t\u00e9"));
    EXPECT_FALSE(p.contains("bad"));
    EXPECT_EQ(p.value("ok").toString(), "1");
}

TEST(OAuthURLQueryComponent, EncodesEscapingDelimitersSpacesAndPlus)
{
    OAuthURLQueryComponent q;
    q.addParameter("b", "x y");
    q.addParameter("a", "1+1=2&3");
    q.addParameter("a", "second");
    q.addParameter("k&=", QStringLiteral("\u00e9/~"));
    const QString encoded = q.URLEncodedParameters();
    EXPECT_EQ(encoded, "a=1%2B1%3D2%263&a=second&b=x%20y&k%26%3D=%C3%A9%2F~");

    // What is encoded parses back to the same parameters.
    const QJsonObject back = parse("https://h/?" + encoded);
    EXPECT_EQ(back, q.dictionaryValue());
}

TEST(OAuthURLQueryComponent, ReplacesOnlyTheQuery)
{
    OAuthURLQueryComponent q;
    q.addParameters({{"x", "1"}, {"y", "2"}});
    const QUrl url = q.URLByReplacingQueryInURL(QUrl("https://user@auth.example:8443/o/oauth2/v2/auth?old=1#frag"));
    EXPECT_EQ(url.toString(QUrl::FullyEncoded), "https://user@auth.example:8443/o/oauth2/v2/auth?x=1&y=2#frag");
    const auto items = q.queryItems();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0], qMakePair(QString("x"), QString("1")));
}

TEST(OAuthScopeUtilities, JoinsAndRejectsIllegalScopes)
{
    EXPECT_EQ(OAuthScopeUtilities::scopesWithArray({"openid", "email", "https://www.example.com/auth/x!#[]~"}),
              "openid email https://www.example.com/auth/x!#[]~");
    EXPECT_EQ(OAuthScopeUtilities::scopesWithArray({}), "");

    struct Case { QString scope; QString reason; };
    const Case cases[] = {
        {"", "Found illegal empty scope string."},
        {"two words", "Found illegal character in scope string."},
        {"quote\"", "Found illegal character in scope string."},
        {"back\\slash", "Found illegal character in scope string."},
        {QStringLiteral("caf\u00e9"), "Found illegal character in scope string."},
        {"tab\t", "Found illegal character in scope string."},
    };
    for (const Case& c : cases) {
        try {
            OAuthScopeUtilities::scopesWithArray({"openid", c.scope});
            ADD_FAILURE() << "no exception for " << c.scope.toStdString();
        } catch (const OAuthException& e) {
            EXPECT_EQ(e.reason(), c.reason) << c.scope.toStdString();
            EXPECT_EQ(e.name(), OAuthException::InternalInconsistency);
        }
    }
}

TEST(OAuthTokenUtilities, RandomStringsAreUrlSafeAndIndependent)
{
    QSet<QString> seen;
    for (int i = 0; i < 50; ++i) {
        const auto s = OAuthTokenUtilities::randomURLSafeStringWithSize(32);
        ASSERT_TRUE(s);
        EXPECT_EQ(s->size(), 43);
        for (QChar c : *s)
            EXPECT_TRUE(c.isLetterOrNumber() || c == '-' || c == '_') << s->toStdString();
        seen.insert(*s);
    }
    EXPECT_EQ(seen.size(), 50);

    OAuthTokenUtilities::setRandomSourceForTesting([](void*, std::size_t) { return false; });
    EXPECT_FALSE(OAuthTokenUtilities::randomURLSafeStringWithSize(32));
    OAuthTokenUtilities::setRandomSourceForTesting({});
    EXPECT_TRUE(OAuthTokenUtilities::randomURLSafeStringWithSize(32));
}

TEST(OAuthTokenUtilities, Base64urlWithoutPaddingBothWays)
{
    const QByteArray bytes("\xfb\xff\xfe\x00\x01", 5);
    EXPECT_EQ(OAuthTokenUtilities::encodeBase64urlNoPadding(bytes), "-__-AAE");
    EXPECT_EQ(OAuthTokenUtilities::decodeBase64urlNoPadding("-__-AAE"), bytes);
    EXPECT_EQ(OAuthTokenUtilities::decodeBase64urlNoPadding(""), QByteArray());

    // Strict: padding, the standard alphabet's "+" and "/", other characters and a length of one
    // more than a multiple of four are refused.
    for (const char* bad : {"-__-AAE=", "+//+AAE", "ab c", "abcde", "a", "ab.c", "abc\n"})
        EXPECT_FALSE(OAuthTokenUtilities::decodeBase64urlNoPadding(QString::fromLatin1(bad))) << bad;
}

TEST(OAuthTokenUtilities, Sha256OfUtf8)
{
    // RFC 7636 appendix B.
    EXPECT_EQ(OAuthTokenUtilities::encodeBase64urlNoPadding(
                  OAuthTokenUtilities::sha256("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk")),
              "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
    EXPECT_EQ(OAuthTokenUtilities::sha256(QStringLiteral("\u00e9")).toHex(),
              QCryptographicHash::hash("\xc3\xa9", QCryptographicHash::Sha256).toHex());
}

TEST(OAuthTokenUtilities, Redact)
{
    EXPECT_FALSE(OAuthTokenUtilities::redact(std::nullopt));
    EXPECT_EQ(OAuthTokenUtilities::redact(QString("")), "");
    EXPECT_EQ(OAuthTokenUtilities::redact(QString("abc")), "[redacted]");
    EXPECT_EQ(OAuthTokenUtilities::redact(QString("abcdefgh")), "[redacted]");
    EXPECT_EQ(OAuthTokenUtilities::redact(QString("abcdefghi")), "abcdef...[redacted]");
    EXPECT_EQ(OAuthTokenUtilities::redact(QString("abcdefghij")), "abcdef...[redacted]");
}

TEST(OAuthTokenUtilities, FormUrlEncode)
{
    EXPECT_EQ(OAuthTokenUtilities::formUrlEncode("a b&c"), "a+b%26c");
    EXPECT_EQ(OAuthTokenUtilities::formUrlEncode(""), "");
    EXPECT_EQ(OAuthTokenUtilities::formUrlEncode("*-._09azAZ"), "*-._09azAZ");
    EXPECT_EQ(OAuthTokenUtilities::formUrlEncode(QStringLiteral("~+:/\u00e9")), "%7E%2B%3A%2F%C3%A9");
}

TEST(OAuthErrorUtilities, CodesFromErrorTexts)
{
    const QPair<const char*, qint64> table[] = {
        {"invalid_request", -2}, {"unauthorized_client", -3}, {"access_denied", -4},
        {"unsupported_response_type", -5}, {"invalid_scope", -6}, {"server_error", -7},
        {"temporarily_unavailable", -8}, {"invalid_client", -9}, {"invalid_grant", -10},
        {"unsupported_grant_type", -11}, {"something_else", -61440}, {"", -61440}, {"Invalid_Grant", -61440},
    };
    for (const auto& [text, code] : table)
        EXPECT_EQ(OAuthErrorUtilities::OAuthErrorCodeFromString(QString::fromLatin1(text)), code) << text;
}

TEST(OAuthErrorUtilities, OAuthErrorDescriptions)
{
    struct Case { QJsonObject response; qint64 code; QString description; };
    const Case cases[] = {
        {{{"error", "invalid_grant"}, {"error_description", "Bad code"}}, -10, "invalid_grant: Bad code"},
        {{{"error", "weird"}}, -61440, "weird"},
        {{{"error", "access_denied"}, {"error_uri", "https://e/x"}}, -4, "access_denied - https://e/x"},
        {{{"error", "invalid_scope"}, {"error_description", 5}, {"error_uri", "u"}}, -6, "invalid_scope: 5 - u"},
        {{{"error", ""}}, -61440, "OAuth error:  - https://tools.ietf.org/html/rfc6749#section-5.2"},
        {{{"error", ""}, {"error_uri", "u"}}, -61440, "u"},
    };
    const DomainError underlying("Kovani.OAuth.remote-http", 400, QString("body"));
    for (const Case& c : cases) {
        const DomainError e = OAuthErrorUtilities::OAuthErrorWithDomain(OAuthTokenErrorDomain, c.response, underlying);
        EXPECT_EQ(e.domain, OAuthTokenErrorDomain);
        EXPECT_EQ(e.code, c.code);
        EXPECT_EQ(e.localizedDescription, c.description);
        EXPECT_EQ(e.userInfo.value(OAuthErrorResponseErrorKey).value<QJsonObject>(), c.response);
        ASSERT_TRUE(e.underlying);
        EXPECT_EQ(e.underlying->code, 400);
    }
}

TEST(OAuthErrorUtilities, FallsBackToTheGeneralNetworkError)
{
    const DomainError underlying("Net", 7, QString("offline"));
    const std::pair<QString, std::optional<QJsonObject>> cases[] = {
        {OAuthTokenErrorDomain, std::nullopt},
        {OAuthTokenErrorDomain, QJsonObject{{"error", 3}}},
        {OAuthTokenErrorDomain, QJsonObject{{"error_description", "x"}}},
        {OAuthGeneralErrorDomain, QJsonObject{{"error", "invalid_grant"}}},
        {OAuthHTTPErrorDomain, QJsonObject{{"error", "invalid_grant"}}},
    };
    for (const auto& [domain, response] : cases) {
        const DomainError e = OAuthErrorUtilities::OAuthErrorWithDomain(domain, response, underlying);
        EXPECT_EQ(e.domain, OAuthGeneralErrorDomain);
        EXPECT_EQ(e.code, -5);
        EXPECT_EQ(e.localizedDescription, "offline");
        ASSERT_TRUE(e.underlying);
        EXPECT_EQ(e.underlying->domain, "Net");
    }
    EXPECT_TRUE(OAuthErrorUtilities::isOAuthErrorDomain(OAuthRegistrationErrorDomain));
    EXPECT_TRUE(OAuthErrorUtilities::isOAuthErrorDomain(OAuthAuthorizationErrorDomain));
    EXPECT_FALSE(OAuthErrorUtilities::isOAuthErrorDomain(OAuthHTTPErrorDomain));
}

TEST(OAuthErrorUtilities, HttpAndGeneralErrors)
{
    const DomainError http = OAuthErrorUtilities::HTTPErrorWithHTTPResponse(503, "down");
    EXPECT_EQ(http.domain, "Kovani.OAuth.remote-http");
    EXPECT_EQ(http.code, 503);
    EXPECT_EQ(http.localizedDescription, "down");
    EXPECT_TRUE(OAuthErrorUtilities::HTTPErrorWithHTTPResponse(500, "").localizedDescription.isEmpty());
    EXPECT_TRUE(OAuthErrorUtilities::HTTPErrorWithHTTPResponse(500, "\xff\xfe").localizedDescription.isEmpty());

    const DomainError general = OAuthErrorUtilities::errorWithCode(-3, http, std::nullopt);
    EXPECT_EQ(general.domain, "Kovani.OAuth.general");
    EXPECT_TRUE(general.localizedDescription.isEmpty());
    ASSERT_TRUE(general.underlying);
    EXPECT_EQ(general.underlying->code, 503);

    try {
        OAuthErrorUtilities::raiseException("Something went wrong");
        ADD_FAILURE();
    } catch (const OAuthException& e) {
        EXPECT_EQ(e.name(), "Something went wrong");
        EXPECT_EQ(e.reason(), "Something went wrong");
    }
}

} // namespace
