#pragma once

#include <QString>

#include <optional>

// The OAuth client configuration of the bundle ("GoogleService-Info.plist" in its resources).
struct GoogleOAuthConfig {
    QString clientId;
    QString reversedClientId;
    std::optional<QString> serverClientId;

    // Nothing when the file is missing or unreadable, is not a property list whose top level is
    // a dictionary, or lacks "CLIENT_ID" or "REVERSED_CLIENT_ID" as texts. "SERVER_CLIENT_ID" is
    // taken when it is a text.
    static std::optional<GoogleOAuthConfig> fromResources(const QString& resourcesDir);
    static std::optional<GoogleOAuthConfig> fromFile(const QString& path);

    // The server client ID when present and not empty.
    std::optional<QString> usableServerClientId() const
    {
        return serverClientId && !serverClientId->isEmpty() ? serverClientId : std::nullopt;
    }
    // The audience of the ID token asked for: the server client when usable, else the client.
    QString expectedAudience() const { return usableServerClientId().value_or(clientId); }
};
