// Decoding and encoding rules of the account service's records.
#include "account/APIRecords.h"
#include "app/AppConfig.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

namespace {

template <typename T>
std::optional<T> ok(const std::variant<T, APIError>& v)
{
    if (const T* t = std::get_if<T>(&v))
        return *t;
    return std::nullopt;
}

template <typename T>
APIError failure(const std::variant<T, APIError>& v)
{
    const APIError* e = std::get_if<APIError>(&v);
    return e ? *e : APIError{};
}

const QString kMissing = QString::fromUtf8("The data couldn\u2019t be read because it is missing.");
const QString kWrongFormat = QString::fromUtf8("The data couldn\u2019t be read because it isn\u2019t in the correct format.");

} // namespace

TEST(WireRecords, AuthResponseDecoding)
{
    struct Case {
        const char* json;
        bool decodes;
        std::optional<QString> accessToken;
        std::optional<QString> token;
        QString error;
    };
    const QString u = "\"user\":{\"name\":\"Ada\",\"email\":\"ada@example.test\"}";
    const QList<Case> cases{
        {"{\"access_token\":\"a\",\"token\":\"b\",\"token_type\":\"Bearer\",USER}", true, "a", "b", ""},
        {"{\"token\":\"b\",USER}", true, std::nullopt, "b", ""},
        {"{\"access_token\":\"\",\"token\":\"b\",USER}", true, "", "b", ""},
        {"{\"access_token\":null,\"token\":null,\"token_type\":null,USER}", true, std::nullopt, std::nullopt, ""},
        {"{\"accessToken\":\"camel\",USER}", true, "camel", std::nullopt, ""},
        {"{\"unknown\":[1,2],USER}", true, std::nullopt, std::nullopt, ""},
        {"{\"token\":\"b\"}", false, {}, {}, kMissing},
        {"{\"user\":null}", false, {}, {}, kMissing},
        {"{\"user\":\"Ada\"}", false, {}, {}, kWrongFormat},
        {"{\"access_token\":5,USER}", false, {}, {}, kWrongFormat},
        {"{\"user\":{\"name\":\"Ada\"}}", false, {}, {}, kMissing},
        {"{\"user\":{\"name\":\"Ada\",\"email\":null}}", false, {}, {}, kMissing},
        {"{\"user\":{\"name\":1,\"email\":\"a\"}}", false, {}, {}, kWrongFormat},
        {"{\"user\":{\"name\":\"A\",\"email\":\"a\",\"status\":true}}", false, {}, {}, kWrongFormat},
        {"{\"user\":{\"name\":\"A\",\"email\":\"a\",\"id\":\"7\"}}", false, {}, {}, kWrongFormat},
        {"{\"user\":{\"name\":\"A\",\"email\":\"a\",\"id\":7.5}}", false, {}, {}, kWrongFormat},
        {"{\"user\":{\"name\":\"A\",\"email\":\"a\",\"id\":99999999999999999999}}", false, {}, {}, kWrongFormat},
        {"[]", false, {}, {}, kWrongFormat},
        {"", false, {}, {}, kWrongFormat},
        {"{\"user\":{\"name\":\"A\xff\",\"email\":\"a\"}}", false, {}, {}, kWrongFormat},
    };
    for (const Case& c : cases) {
        QByteArray bytes(c.json);
        bytes.replace("USER", u.toUtf8());
        const auto decoded = AuthResponse::decode(bytes);
        const auto value = ok(decoded);
        ASSERT_EQ(value.has_value(), c.decodes) << c.json;
        if (!c.decodes) {
            EXPECT_EQ(failure(decoded).localizedDescription, c.error) << c.json;
            EXPECT_EQ(failure(decoded).domain, "Kovani.JSONDecoding") << c.json;
            continue;
        }
        EXPECT_EQ(value->accessToken, c.accessToken) << c.json;
        EXPECT_EQ(value->token, c.token) << c.json;
        EXPECT_EQ(value->user.name, "Ada") << c.json;
    }
}

TEST(WireRecords, UserFieldsAndOtherReplies)
{
    const auto me = ok(MeResponse::decode("{\"user\":{\"id\":7.0,\"name\":\"\u00c5sa\",\"email\":\"a@b.co\",\"status\":\"active\",\"extra\":1}}"));
    ASSERT_TRUE(me);
    EXPECT_EQ(me->user, (APIUser{7, QString::fromUtf8("\u00c5sa"), "a@b.co", QString("active")}));
    const auto big = ok(MeResponse::decode("{\"user\":{\"id\":9223372036854775807,\"name\":\"A\",\"email\":\"a\"}}"));
    ASSERT_TRUE(big);
    EXPECT_EQ(big->user.id, std::numeric_limits<qint64>::max());

    EXPECT_EQ(ok(APIMessageResponse::decode("{\"message\":\"Sent <b>!</b>\"}"))->message, "Sent <b>!</b>");
    EXPECT_EQ(failure(APIMessageResponse::decode("{}")).localizedDescription, kMissing);
    EXPECT_EQ(failure(APIMessageResponse::decode("{\"message\":[]}")).localizedDescription, kWrongFormat);
}

TEST(WireRecords, SnakeCaseConversion)
{
    const QList<QPair<QString, QString>> cases{
        {"access_token", "accessToken"}, {"token_type", "tokenType"}, {"token", "token"},
        {"accessToken", "accessToken"}, {"_access_token_", "_accessToken_"}, {"ACCESS_TOKEN", "accessToken"},
        {"a__b", "aB"},                  {"___", "___"},                     {"", ""},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(WireCoding::fromSnakeCase(in), out) << in.toStdString();
}

TEST(WireRecords, DatesWithAndWithoutFractionalSeconds)
{
    using nlohmann::json;
    struct Case {
        const char* text;
        QString utc; // empty: fails
    };
    const QList<Case> cases{
        {"2026-03-01T10:20:30Z", "2026-03-01T10:20:30.000Z"},
        {"2026-03-01T10:20:30.25Z", "2026-03-01T10:20:30.250Z"},
        {"2026-03-01T10:20:30.123456+02:00", "2026-03-01T08:20:30.123Z"},
        {"2026-03-01T10:20:30-05:30", "2026-03-01T15:50:30.000Z"},
        {"2026-03-01", ""},
        {"2026-03-01T10:20:30", ""},
        {"2026-02-30T10:20:30Z", ""},
        {"2026-03-01 10:20:30Z", ""},
        {"2026-03-01T10:20:30.Z", ""},
    };
    for (const Case& c : cases) {
        const auto decoded = WireCoding::decodeDate(json(c.text));
        if (c.utc.isEmpty()) {
            const APIError* e = std::get_if<APIError>(&decoded);
            ASSERT_TRUE(e) << c.text;
            EXPECT_EQ(e->debugDescription, QString("Invalid ISO8601 date: ") + c.text);
            EXPECT_EQ(e->localizedDescription, kWrongFormat);
        } else {
            const QDateTime* d = std::get_if<QDateTime>(&decoded);
            ASSERT_TRUE(d) << c.text;
            EXPECT_EQ(d->toString(Qt::ISODateWithMs), c.utc) << c.text;
        }
    }
    EXPECT_TRUE(std::holds_alternative<APIError>(WireCoding::decodeDate(json(1700000000))));
}

TEST(WireRecords, StoredProfileDefaults)
{
    using nlohmann::json;
    const auto noProvider = ConfigCoding::decodeProfile(json::parse(R"({"name":"A","email":"a@b.co","avatarInitials":"A"})"));
    ASSERT_TRUE(noProvider);
    EXPECT_EQ(noProvider->provider, "email");
    EXPECT_EQ(noProvider->passwordHash, "");
    EXPECT_EQ(noProvider->apiToken, "");
    EXPECT_FALSE(ConfigCoding::decodeProfile(json::parse(R"({"name":"A","email":"a@b.co"})")));
    // All six keys are written, empty ones too.
    const json written = ConfigCoding::encodeProfile(UserProfile{"A", "a@b.co", "A", "", "email", ""});
    EXPECT_EQ(written.size(), 6u);
}
