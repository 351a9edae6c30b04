#include "account/APIClient.h"

#include "platform/Network.h"
#include "platform/Text.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrlQuery>

namespace {

// Qt reports an HTTP error status also as error(); these codes stand for a status, not for a
// failed exchange.
bool isStatusError(QNetworkReply::NetworkError error)
{
    const int code = static_cast<int>(error);
    return (code >= QNetworkReply::ContentAccessDenied && code <= QNetworkReply::UnknownContentError)
        || error == QNetworkReply::ProtocolInvalidOperationError
        || (code >= QNetworkReply::InternalServerError && code <= QNetworkReply::UnknownServerError);
}

APIError transportError(QNetworkReply* reply, const Network::BodyReader& reader)
{
    if (reader.failure() != Network::BodyReader::Failure::none) {
        const qint64 code = reader.failure() == Network::BodyReader::Failure::deadline ? QNetworkReply::TimeoutError
                                                                                       : QNetworkReply::UnknownContentError;
        return {APIErrors::kNetworkDomain, code, reader.failureText(), reply->errorString()};
    }
    const QNetworkReply::NetworkError error = reply->error();
    QString description = reply->errorString();
    if (error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError)
        description = QStringLiteral("The request timed out.");
    else if (error == QNetworkReply::InsecureRedirectError)
        description = QStringLiteral("The account service redirected the request to another address; it was not followed.");
    const qint64 code = error == QNetworkReply::OperationCanceledError ? QNetworkReply::TimeoutError : error;
    return {APIErrors::kNetworkDomain, code, description, reply->errorString()};
}

} // namespace

APIClient& APIClient::shared()
{
    static APIClient* instance = new APIClient; // lives until the process ends
    return *instance;
}

QString APIClient::bundleIdentifier()
{
    return QStringLiteral(KOVANI_BUNDLE_IDENTIFIER);
}

QString APIClient::appVersion()
{
    return QStringLiteral("Kovani/1.0.0.1");
}

void APIClient::setBaseURL(const QString& text)
{
    if (text == m_baseText && !m_baseText.isNull())
        return;
    m_baseText = text;
    const QUrl url(text, QUrl::StrictMode);
    const bool usable = url.isValid() && url.scheme() == u"https" && !url.host().isEmpty() && !url.hasQuery()
        && !url.hasFragment() && url.userInfo().isEmpty();
    m_base = usable ? url : QUrl();
}

QUrl APIClient::endpointURL(const QString& path, const QueryItems& queryItems) const
{
    if (!m_base.isValid())
        return {};
    QUrl url = m_base;
    QString joined = url.path(QUrl::FullyEncoded);
    if (!joined.endsWith(u'/'))
        joined += u'/';
    joined += path;
    url.setPath(joined, QUrl::TolerantMode);
    if (!queryItems.isEmpty()) {
        QUrlQuery query;
        for (const auto& item : queryItems)
            query.addQueryItem(QString::fromLatin1(QUrl::toPercentEncoding(item.first)),
                               QString::fromLatin1(QUrl::toPercentEncoding(item.second)));
        url.setQuery(query.query(QUrl::FullyEncoded), QUrl::StrictMode);
    }
    return url;
}

void APIClient::send(const QByteArray& method, const QString& path, const std::optional<QString>& token,
                     const std::optional<EncodedBody>& body, const QueryItems& queryItems,
                     std::function<void(const Outcome&)> done)
{
    const QUrl url = endpointURL(path, queryItems);
    if (!url.isValid()) {
        done({APIError{APIErrors::kDomain, -2,
                       QStringLiteral("The account service address is not a valid HTTPS URL: ") + m_baseText, {}},
              std::nullopt});
        return;
    }
    QByteArray payload;
    if (body) {
        if (const auto* error = std::get_if<APIError>(&*body)) {
            done({*error, std::nullopt});
            return;
        }
        payload = std::get<QByteArray>(*body);
    }

    QNetworkRequest request(url);
    request.setTransferTimeout(kTimeoutMs);
    request.setSslConfiguration(Network::tlsConfiguration());
    // Same scheme, host and port only: the bearer token never travels to another origin.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::AuthenticationReuseAttribute, QNetworkRequest::Manual);
    if (body)
        request.setRawHeader("Content-Type", "application/json");
    request.setRawHeader("Accept", "application/json");
    request.setRawHeader("X-App-Version", appVersion().toUtf8());
    request.setRawHeader("X-Bundle-ID", bundleIdentifier().toUtf8());
    if (token && !token->isEmpty())
        request.setRawHeader("Authorization", "Bearer " + token->toUtf8());

    QNetworkAccessManager& manager = Network::sharedAccessManager();
    QNetworkReply* reply = body ? manager.sendCustomRequest(request, method, payload)
                                : manager.sendCustomRequest(request, method);
    Network::BodyReader* reader = Network::BodyReader::attach(reply);
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, reader, done = std::move(done)]() {
        reply->deleteLater();
        const QByteArray bytes = reader->takeBody();
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        const QNetworkReply::NetworkError error = reply->error();
        if (reader->failure() != Network::BodyReader::Failure::none
            || (error != QNetworkReply::NoError && !(status.isValid() && isStatusError(error)))) {
            done({transportError(reply, *reader), std::nullopt});
            return;
        }
        if (status.isValid()) {
            const int code = status.toInt();
            if (code < 200 || code > 299) {
                const std::optional<QString> text = Text::decodeUtf8(bytes);
                done({APIError{APIErrors::kDomain, code, text ? *text : QStringLiteral("HTTP ") + QString::number(code), {}},
                      std::nullopt});
                return;
            }
            done({std::nullopt, bytes}); // an HTTP response always has a body, an empty one too
            return;
        }
        if (bytes.isEmpty())
            done({std::nullopt, std::nullopt});
        else
            done({std::nullopt, bytes});
    });
}
