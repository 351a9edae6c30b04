#pragma once

#include <QString>
#include <QStringList>

// Joins and checks OAuth scopes (scope-token characters only).
namespace OAuthScopeUtilities {

// Every character that may not appear in a scope.
bool isDisallowedScopeCharacter(QChar c);

// The scopes joined with single spaces, in order. Throws OAuthException (internal inconsistency)
// for an empty scope or one with a disallowed character.
QString scopesWithArray(const QStringList& scopes);

} // namespace OAuthScopeUtilities
