// The keyed archive: every OAuth record goes through it and comes back equal; decoding is strict
// about the class, the types and the frame.
#include "oauth/KeyedArchive.h"
#include "oauth/OAuthAuthorizationResponse.h"
#include "oauth/OAuthErrorUtilities.h"
#include "oauth/OAuthState.h"
#include "oauth/OAuthTokenResponse.h"
#include "support/TestFiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

namespace {

template <typename T>
QByteArray archive(const T& object)
{
    KeyedArchiver archiver;
    archiver.encodeRootObject(object);
    return archiver.encodedData();
}

template <typename T>
std::shared_ptr<T> unarchive(const QByteArray& data, std::optional<DomainError>* error = nullptr)
{
    KeyedUnarchiver unarchiver(data);
    auto result = unarchiver.template decodeTopLevelObject<T>();
    if (error)
        *error = unarchiver.error();
    return result;
}

OAuthServiceConfigurationPtr fullConfiguration()
{
    return std::make_shared<const OAuthServiceConfiguration>(
        QUrl("https://a.example/auth"), QUrl("https://t.example/token"), QUrl("https://issuer.example"),
        QUrl("https://r.example/reg"), QUrl("https://e.example/end"), QJsonObject{{"issuer", "https://issuer.example"}});
}

OAuthAuthorizationRequestPtr request()
{
    return std::make_shared<const OAuthAuthorizationRequest>(
        fullConfiguration(), "cid", QString("secret"), QString("email profile"), QUrl("com.example:/cb"), "code",
        QString("st"), QString("no"), QString("ver"), QString("cha"), QString("S256"),
        QMap<QString, QString>{{"include_granted_scopes", "true"}});
}

OAuthAuthorizationResponsePtr authorizationResponse()
{
    return std::make_shared<const OAuthAuthorizationResponse>(
        request(), QJsonObject{{"code", "c0de"}, {"state", "st"}, {"scope", "email"}, {"extra", QJsonArray{"1", "2"}}});
}

OAuthTokenResponsePtr tokenResponse()
{
    const auto exchange = authorizationResponse()->tokenExchangeRequestWithAdditionalParameters(
        QMap<QString, QString>{{"gpsdk", "v"}}, QMap<QString, QString>{{"X-A", "b"}});
    return std::make_shared<const OAuthTokenResponse>(
        exchange, QJsonObject{{"access_token", "at"}, {"expires_in", 3600}, {"token_type", "Bearer"},
                              {"id_token", "a.b.c"}, {"refresh_token", "rt"}, {"scope", "openid"},
                              {"server_code", "sc"}, {"n", 1.5}, {"big", 1234567890123LL}, {"null", QJsonValue()},
                              {"deep", QJsonObject{{"list", QJsonArray{true, "x", QJsonObject{{"k", "v"}}}}}}});
}

void expectSame(const OAuthServiceConfiguration& a, const OAuthServiceConfiguration& b)
{
    EXPECT_EQ(a.authorizationEndpoint(), b.authorizationEndpoint());
    EXPECT_EQ(a.tokenEndpoint(), b.tokenEndpoint());
    EXPECT_EQ(a.issuer(), b.issuer());
    EXPECT_EQ(a.registrationEndpoint(), b.registrationEndpoint());
    EXPECT_EQ(a.endSessionEndpoint(), b.endSessionEndpoint());
    EXPECT_EQ(a.discoveryDocument(), b.discoveryDocument());
}

void expectSame(const OAuthAuthorizationRequest& a, const OAuthAuthorizationRequest& b)
{
    expectSame(*a.configuration(), *b.configuration());
    EXPECT_EQ(a.responseType(), b.responseType());
    EXPECT_EQ(a.clientID(), b.clientID());
    EXPECT_EQ(a.clientSecret(), b.clientSecret());
    EXPECT_EQ(a.scope(), b.scope());
    EXPECT_EQ(a.redirectURL(), b.redirectURL());
    EXPECT_EQ(a.state(), b.state());
    EXPECT_EQ(a.nonce(), b.nonce());
    EXPECT_EQ(a.codeVerifier(), b.codeVerifier());
    EXPECT_EQ(a.codeChallenge(), b.codeChallenge());
    EXPECT_EQ(a.codeChallengeMethod(), b.codeChallengeMethod());
    EXPECT_EQ(a.additionalParameters(), b.additionalParameters());
    EXPECT_EQ(a.authorizationRequestURL(), b.authorizationRequestURL());
}

void expectSame(const OAuthAuthorizationResponse& a, const OAuthAuthorizationResponse& b)
{
    expectSame(*a.request(), *b.request());
    EXPECT_EQ(a.authorizationCode(), b.authorizationCode());
    EXPECT_EQ(a.state(), b.state());
    EXPECT_EQ(a.accessToken(), b.accessToken());
    EXPECT_EQ(a.accessTokenExpirationDate(), b.accessTokenExpirationDate());
    EXPECT_EQ(a.tokenType(), b.tokenType());
    EXPECT_EQ(a.idToken(), b.idToken());
    EXPECT_EQ(a.scope(), b.scope());
    EXPECT_EQ(a.additionalParameters(), b.additionalParameters());
}

void expectSame(const OAuthTokenRequest& a, const OAuthTokenRequest& b)
{
    expectSame(*a.configuration(), *b.configuration());
    EXPECT_EQ(a.grantType(), b.grantType());
    EXPECT_EQ(a.authorizationCode(), b.authorizationCode());
    EXPECT_EQ(a.redirectURL(), b.redirectURL());
    EXPECT_EQ(a.clientID(), b.clientID());
    EXPECT_EQ(a.clientSecret(), b.clientSecret());
    EXPECT_EQ(a.scope(), b.scope());
    EXPECT_EQ(a.refreshToken(), b.refreshToken());
    EXPECT_EQ(a.codeVerifier(), b.codeVerifier());
    EXPECT_EQ(a.additionalParameters(), b.additionalParameters());
    EXPECT_EQ(a.additionalHeaders(), b.additionalHeaders());
    EXPECT_EQ(a.URLRequest().body, b.URLRequest().body);
}

void expectSame(const OAuthTokenResponse& a, const OAuthTokenResponse& b)
{
    expectSame(*a.request(), *b.request());
    EXPECT_EQ(a.accessToken(), b.accessToken());
    EXPECT_EQ(a.accessTokenExpirationDate(), b.accessTokenExpirationDate());
    EXPECT_EQ(a.tokenType(), b.tokenType());
    EXPECT_EQ(a.idToken(), b.idToken());
    EXPECT_EQ(a.refreshToken(), b.refreshToken());
    EXPECT_EQ(a.scope(), b.scope());
    EXPECT_EQ(a.additionalParameters(), b.additionalParameters());
}

TEST(KeyedArchive, EveryRecordRoundTrips)
{
    {
        const auto minimal = std::make_shared<const OAuthServiceConfiguration>(QUrl("https://a/x"), QUrl("https://t/y"));
        const auto back = unarchive<OAuthServiceConfiguration>(archive(*minimal));
        ASSERT_TRUE(back);
        expectSame(*minimal, *back);
        const auto full = unarchive<OAuthServiceConfiguration>(archive(*fullConfiguration()));
        ASSERT_TRUE(full);
        expectSame(*fullConfiguration(), *full);
    }
    {
        const auto back = unarchive<OAuthAuthorizationRequest>(archive(*request()));
        ASSERT_TRUE(back);
        expectSame(*request(), *back);
        const auto generated = OAuthAuthorizationRequest::create(fullConfiguration(), "c", {"openid"},
                                                                 QUrl("x.y:/cb"), "code id_token", std::nullopt);
        const auto back2 = unarchive<OAuthAuthorizationRequest>(archive(*generated));
        ASSERT_TRUE(back2);
        expectSame(*generated, *back2);
    }
    {
        const auto original = authorizationResponse();
        const auto back = unarchive<OAuthAuthorizationResponse>(archive(*original));
        ASSERT_TRUE(back);
        expectSame(*original, *back);
    }
    {
        const auto original = tokenResponse();
        const auto back = unarchive<OAuthTokenResponse>(archive(*original));
        ASSERT_TRUE(back);
        expectSame(*original, *back);
        EXPECT_EQ(back->additionalParameters().value("big").toInteger(), 1234567890123LL);
        EXPECT_EQ(back->additionalParameters().value("n").toDouble(), 1.5);
        EXPECT_TRUE(back->additionalParameters().value("null").isNull());
        ASSERT_TRUE(back->accessTokenExpirationDate());
        EXPECT_EQ(back->accessTokenExpirationDate()->toMSecsSinceEpoch(),
                  original->accessTokenExpirationDate()->toMSecsSinceEpoch());
        const auto back2 = unarchive<OAuthTokenRequest>(archive(*original->request()));
        ASSERT_TRUE(back2);
        expectSame(*original->request(), *back2);
    }
    {
        OAuthState state(authorizationResponse(), tokenResponse());
        state.updateWithAuthorizationError(DomainError(OAuthTokenErrorDomain, -10, QString("invalid_grant"),
                                                      {{OAuthErrorResponseErrorKey, QVariant::fromValue(QJsonObject{{"error", "invalid_grant"}})}}));
        const auto back = unarchive<OAuthState>(archive(state));
        ASSERT_TRUE(back);
        expectSame(*state.lastAuthorizationResponse(), *back->lastAuthorizationResponse());
        expectSame(*state.lastTokenResponse(), *back->lastTokenResponse());
        EXPECT_EQ(back->scope(), "openid");
        EXPECT_EQ(back->refreshToken(), "rt");
        EXPECT_FALSE(back->needsTokenRefresh());
        ASSERT_TRUE(back->authorizationError());
        // Only the domain and the code of the error are kept.
        EXPECT_EQ(back->authorizationError()->domain, OAuthTokenErrorDomain);
        EXPECT_EQ(back->authorizationError()->code, -10);
        EXPECT_TRUE(back->authorizationError()->localizedDescription.isEmpty());
        EXPECT_TRUE(back->authorizationError()->userInfo.isEmpty());
        EXPECT_FALSE(back->isAuthorized());
    }
}

TEST(KeyedArchive, FormatKeepsKeyOrderAbsenceAndTypes)
{
    OAuthState state(authorizationResponse());
    const QByteArray data = archive(state);
    const QJsonObject document = QJsonDocument::fromJson(data).object();
    EXPECT_EQ(document.value("$archiver").toString(), "Kovani.KeyedArchive");
    EXPECT_EQ(document.value("$version").toInt(), 1);
    const QJsonObject root = document.value("$top").toObject().value("root").toObject();
    EXPECT_EQ(root.value("$type").toString(), "object");
    EXPECT_EQ(root.value("$class").toString(), "OAuthState");
    const QJsonObject fields = root.value("fields").toObject();
    EXPECT_FALSE(fields.contains("lastTokenResponse")) << "absent values are not written";
    EXPECT_FALSE(fields.contains("authorizationError"));
    EXPECT_FALSE(fields.contains("refreshToken"));
    EXPECT_EQ(fields.value("needsTokenRefresh"), QJsonValue(false));

    // Keys come in the order written (QJsonObject would sort them, so look at the bytes).
    const QByteArray text = data;
    const char* stateKeys[] = {"\"lastAuthorizationResponse\"", "\"scope\"", "\"needsTokenRefresh\""};
    qsizetype last = -1;
    for (const char* key : stateKeys) {
        const qsizetype at = text.lastIndexOf(key);
        EXPECT_GT(at, last) << key;
        last = at;
    }
    const QJsonObject request = fields.value("lastAuthorizationResponse").toObject().value("fields").toObject()
                                    .value("request").toObject();
    EXPECT_EQ(request.value("$class").toString(), "OAuthAuthorizationRequest");
    EXPECT_EQ(request.value("fields").toObject().value("redirect_uri").toObject().value("$type").toString(), "url");
    const QByteArray requestText = text.mid(text.indexOf("\"OAuthAuthorizationRequest\""));
    const char* requestKeys[] = {"\"configuration\"", "\"response_type\"", "\"client_id\"", "\"client_secret\"",
                                 "\"scope\"", "\"redirect_uri\"", "\"state\"", "\"nonce\"", "\"code_verifier\"",
                                 "\"code_challenge\"", "\"code_challenge_method\"", "\"additionalParameters\""};
    last = -1;
    for (const char* key : requestKeys) {
        const qsizetype at = requestText.indexOf(key, last + 1);
        EXPECT_GT(at, last) << key;
        last = at;
    }
}

// A small record of our own to check null and absent values and the class-name mapping.
struct Probe : ArchivableObject {
    static inline const QString ArchiveClassName = QStringLiteral("Probe");
    std::optional<QString> text;
    bool writeNull = false;
    QString archiveClassName() const override { return ArchiveClassName; }
    void encodeWithCoder(KeyedArchiver& c) const override
    {
        c.encodeString("text", text);
        if (writeNull)
            c.encodeNull("nothing");
        c.encodeInteger("n", -5);
    }
    bool sawNull = false, sawText = false;
    static std::shared_ptr<Probe> initWithCoder(KeyedUnarchiver& c)
    {
        auto p = std::make_shared<Probe>();
        p->sawNull = c.isNull("nothing");
        p->sawText = c.containsValue("text");
        p->text = c.decodeString("text");
        if (c.decodeInteger("n") != -5)
            return nullptr;
        return p;
    }
};

TEST(KeyedArchive, NullAndAbsentStayApartAndClassNamesMap)
{
    Probe probe;
    probe.writeNull = true;
    KeyedArchiver archiver;
    archiver.setClassName("RecordedName", "Probe");
    archiver.encodeRootObject(probe);
    const QByteArray data = archiver.encodedData();
    EXPECT_TRUE(data.contains("\"$class\":\"RecordedName\""));
    EXPECT_TRUE(data.contains("\"nothing\":null"));

    std::optional<DomainError> error;
    EXPECT_FALSE(unarchive<Probe>(data, &error)) << "the recorded name is not the class without a mapping";
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, KeyedArchiveErrorDomain);
    EXPECT_EQ(error->code, KeyedArchiveReadCorruptError);

    KeyedUnarchiver unarchiver(data);
    unarchiver.setClass("Probe", "RecordedName");
    const auto back = unarchiver.decodeTopLevelObject<Probe>();
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->sawNull);
    EXPECT_FALSE(back->sawText);
    EXPECT_FALSE(back->text);
}

TEST(KeyedArchive, StrictDecodeFailures)
{
    const QByteArray good = archive(*tokenResponse());
    auto edited = [&](const QByteArray& from, const QByteArray& to) {
        QByteArray d = good;
        EXPECT_TRUE(d.contains(from)) << from.constData();
        d.replace(from, to);
        return d;
    };
    struct Case { QByteArray data; qint64 code; const char* what; };
    const Case cases[] = {
        {"", KeyedArchiveReadCorruptError, "empty"},
        {"not json", KeyedArchiveReadCorruptError, "not JSON"},
        {"[]", KeyedArchiveReadCorruptError, "not an object"},
        {edited("\"$version\":1", "\"$version\":2"), KeyedArchiveReadCorruptError, "unknown version"},
        {edited("Kovani.KeyedArchive", "Other"), KeyedArchiveReadCorruptError, "another archiver"},
        {edited("\"root\":", "\"other\":"), KeyedArchiveValueNotFoundError, "no root"},
        {edited("\"access_token\":\"at\"", "\"access_token\":5"), KeyedArchiveReadCorruptError, "text as number"},
        {edited("\"token_type\":\"Bearer\"", "\"token_type\":{\"$type\":\"url\",\"value\":\"x\"}"),
         KeyedArchiveReadCorruptError, "text as URL"},
        {edited("\"$class\":\"OAuthTokenRequest\"", "\"$class\":\"OAuthAuthorizationRequest\""),
         KeyedArchiveReadCorruptError, "nested object of another class"},
        {edited("\"$class\":\"OAuthServiceConfiguration\"", "\"$class\":\"Evil\""), KeyedArchiveReadCorruptError,
         "unknown nested class"},
        {edited("\"$type\":\"date\"", "\"$type\":\"url\""), KeyedArchiveReadCorruptError, "date as URL"},
        {edited("\"grant_type\":\"authorization_code\",", ""), KeyedArchiveReadCorruptError, "required key missing"},
    };
    for (const Case& c : cases) {
        std::optional<DomainError> error;
        EXPECT_FALSE(unarchive<OAuthTokenResponse>(c.data, &error)) << c.what;
        ASSERT_TRUE(error) << c.what;
        EXPECT_EQ(error->code, c.code) << c.what;
    }

    // The whole archive of one class asked for as another.
    std::optional<DomainError> error;
    EXPECT_FALSE(unarchive<OAuthState>(good, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, KeyedArchiveReadCorruptError);
    EXPECT_TRUE(unarchive<OAuthTokenResponse>(good));
}

} // namespace

namespace {

TEST(KeyedArchive, DeeplyNestedDataIsRefused)
{
    // Archived values nest a few levels; a dictionary thousands deep is not ours.
    QByteArray nested;
    for (int i = 0; i < 5000; ++i)
        nested += "{\"$type\":\"dict\",\"entries\":{\"k\":";
    nested += "1";
    for (int i = 0; i < 5000; ++i)
        nested += "}}";
    QByteArray data = archive(*tokenResponse());
    data.replace("\"additionalParameters\":", "\"additionalParameters\":" + nested + ",\"unused\":");
    std::optional<DomainError> error;
    EXPECT_FALSE(unarchive<OAuthTokenResponse>(data, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, KeyedArchiveReadCorruptError);
}

} // namespace
