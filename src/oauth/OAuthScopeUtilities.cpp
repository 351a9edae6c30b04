#include "oauth/OAuthScopeUtilities.h"

#include "oauth/OAuthException.h"

namespace OAuthScopeUtilities {

bool isDisallowedScopeCharacter(QChar c)
{
    const char16_t u = c.unicode();
    const bool allowed = u == 0x21 || (u >= 0x23 && u <= 0x5B) || (u >= 0x5D && u <= 0x7E);
    return !allowed;
}

QString scopesWithArray(const QStringList& scopes)
{
    for (const QString& scope : scopes) {
        if (scope.isEmpty())
            throw OAuthException(OAuthException::InternalInconsistency, QStringLiteral("Found illegal empty scope string."));
        for (QChar c : scope)
            if (isDisallowedScopeCharacter(c))
                throw OAuthException(OAuthException::InternalInconsistency,
                                     QStringLiteral("Found illegal character in scope string."));
    }
    return scopes.join(QLatin1Char(' '));
}

} // namespace OAuthScopeUtilities
