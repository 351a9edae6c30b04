#include "oauth/OAuthIDToken.h"

#include "oauth/OAuthFieldMapping.h"
#include "oauth/OAuthTokenUtilities.h"

#include <QDebug>
#include <QJsonDocument>

namespace {

using Fields = OAuthIDToken::Fields;
using Mapping = OAuthFieldMapping<Fields>;

const std::vector<Mapping>& fieldMap()
{
    static const std::vector<Mapping> map = {
        {QStringLiteral("iss"), QStringLiteral("issuer"), OAuthFieldType::URL, OAuthFieldConversions::URLConversion,
         [](Fields& f, const QVariant& v) { f.issuer = v.toUrl(); }, {}, {}},
        Mapping::text(QStringLiteral("sub"), QStringLiteral("subject"), &Fields::subject),
        {QStringLiteral("aud"), QStringLiteral("audience"), OAuthFieldType::List, OAuthFieldConversions::audienceConversion,
         [](Fields& f, const QVariant& v) { f.audience = v.toStringList(); }, {}, {}},
        Mapping::date(QStringLiteral("exp"), QStringLiteral("expiresAt"), &Fields::expiresAt,
                      OAuthFieldConversions::dateSince1970Conversion),
        Mapping::date(QStringLiteral("iat"), QStringLiteral("issuedAt"), &Fields::issuedAt,
                      OAuthFieldConversions::dateSince1970Conversion),
        Mapping::text(QStringLiteral("nonce"), QStringLiteral("nonce"), &Fields::nonce),
    };
    return map;
}

std::optional<QJsonObject> section(const QString& text)
{
    const auto bytes = OAuthTokenUtilities::decodeBase64urlNoPadding(text);
    if (!bytes)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(*bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        qWarning().noquote() << QStringLiteral("Error %1 parsing token payload %2").arg(error.errorString(), text);
        return std::nullopt;
    }
    if (!document.isObject())
        return std::nullopt;
    return document.object();
}

} // namespace

std::shared_ptr<const OAuthIDToken> OAuthIDToken::initWithIDTokenString(const QString& idToken)
{
    const QStringList sections = idToken.split(QLatin1Char('.'));
    if (sections.size() < 2)
        return nullptr;
    const auto header = section(sections.at(0));
    const auto claims = section(sections.at(1));
    if (!header || !claims)
        return nullptr;

    std::shared_ptr<OAuthIDToken> token(new OAuthIDToken);
    token->m_header = *header;
    token->m_claims = *claims;
    Mapping::remainingParametersWithMap(fieldMap(), *claims, token->m_fields);
    const Fields& f = token->m_fields;
    if (!f.issuer || !f.audience || !f.subject || !f.expiresAt || !f.issuedAt)
        return nullptr;
    return token;
}
