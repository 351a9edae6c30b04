#include "oauth/OAuthURLQueryComponent.h"

#include "platform/Text.h"

#include <QJsonArray>

namespace {

std::optional<QString> percentDecoded(const QByteArray& encoded)
{
    return Text::decodeUtf8(QByteArray::fromPercentEncoding(encoded));
}

} // namespace

OAuthURLQueryComponent::OAuthURLQueryComponent(const QUrl& url)
{
    if (!url.hasQuery())
        return;
    QByteArray query = url.query(QUrl::FullyEncoded).toUtf8();
    query.replace('+', "%20");
    for (const QByteArray& item : query.split('&')) {
        const qsizetype equals = item.indexOf('=');
        if (equals < 0)
            continue;
        const auto name = percentDecoded(item.left(equals));
        const auto value = percentDecoded(item.mid(equals + 1));
        // An item that does not decode as UTF-8 is dropped rather than altered.
        if (!name || !value)
            continue;
        addParameter(*name, *value);
    }
}

void OAuthURLQueryComponent::addParameter(const QString& name, const QString& value)
{
    m_parameters[name].append(value);
}

void OAuthURLQueryComponent::addParameters(const QMap<QString, QString>& parameters)
{
    for (auto it = parameters.cbegin(); it != parameters.cend(); ++it)
        addParameter(it.key(), it.value());
}

QJsonObject OAuthURLQueryComponent::dictionaryValue() const
{
    QJsonObject result;
    for (auto it = m_parameters.cbegin(); it != m_parameters.cend(); ++it) {
        if (it.value().size() == 1)
            result.insert(it.key(), it.value().first());
        else
            result.insert(it.key(), QJsonArray::fromStringList(it.value()));
    }
    return result;
}

QList<QPair<QString, QString>> OAuthURLQueryComponent::queryItems() const
{
    QList<QPair<QString, QString>> items;
    for (auto it = m_parameters.cbegin(); it != m_parameters.cend(); ++it)
        for (const QString& value : it.value())
            items.append({it.key(), value});
    return items;
}

QString OAuthURLQueryComponent::URLEncodedParameters() const
{
    // Only the unreserved characters stay as they are, so "&", "=", " " and "+" are escaped.
    QByteArray encoded;
    for (const auto& [name, value] : queryItems()) {
        if (!encoded.isEmpty())
            encoded.append('&');
        encoded.append(QUrl::toPercentEncoding(name));
        encoded.append('=');
        encoded.append(QUrl::toPercentEncoding(value));
    }
    encoded.replace("+", "%2B");
    return QString::fromLatin1(encoded);
}

QUrl OAuthURLQueryComponent::URLByReplacingQueryInURL(const QUrl& url) const
{
    QUrl result = url;
    result.setQuery(URLEncodedParameters(), QUrl::StrictMode);
    return result;
}
