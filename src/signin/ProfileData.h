#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// The signed-in user's basic profile; immutable.
class ProfileData {
public:
    ProfileData(std::optional<QString> email, std::optional<QString> name, std::optional<QString> givenName,
                std::optional<QString> familyName, std::optional<QUrl> imageURL)
        : m_imageURL(std::move(imageURL)), m_email(std::move(email)), m_name(std::move(name)),
          m_givenName(std::move(givenName)), m_familyName(std::move(familyName))
    {
    }

    const std::optional<QUrl>& imageURL() const { return m_imageURL; }
    const std::optional<QString>& email() const { return m_email; }
    const std::optional<QString>& name() const { return m_name; }
    const std::optional<QString>& givenName() const { return m_givenName; }
    const std::optional<QString>& familyName() const { return m_familyName; }

private:
    std::optional<QUrl> m_imageURL;
    std::optional<QString> m_email;
    std::optional<QString> m_name;
    std::optional<QString> m_givenName;
    std::optional<QString> m_familyName;
};
