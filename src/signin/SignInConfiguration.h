#pragma once

#include <QString>

#include <optional>

// The OAuth client a sign-in is made for; immutable.
class SignInConfiguration {
public:
    explicit SignInConfiguration(QString clientID)
        : m_clientID(std::move(clientID))
    {
    }
    SignInConfiguration(QString clientID, std::optional<QString> serverClientID)
        : m_clientID(std::move(clientID)), m_serverClientID(std::move(serverClientID))
    {
    }
    SignInConfiguration(QString clientID, std::optional<QString> serverClientID, std::optional<QString> hostedDomain,
                        std::optional<QString> openIDRealm)
        : m_clientID(std::move(clientID)), m_serverClientID(std::move(serverClientID)),
          m_hostedDomain(std::move(hostedDomain)), m_openIDRealm(std::move(openIDRealm))
    {
    }

    const QString& clientID() const { return m_clientID; }
    // The back end's client: the audience of the ID token asked for.
    const std::optional<QString>& serverClientID() const { return m_serverClientID; }
    const std::optional<QString>& hostedDomain() const { return m_hostedDomain; }
    const std::optional<QString>& openIDRealm() const { return m_openIDRealm; }

private:
    QString m_clientID;
    std::optional<QString> m_serverClientID;
    std::optional<QString> m_hostedDomain;
    std::optional<QString> m_openIDRealm;
};
