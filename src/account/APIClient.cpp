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
    else if (error == QNetworkReply::TooManyRedirectsError)
        description = QStringLiteral("The account service redirected the request more than %1 times, without end; it was "
                                     "not followed further.")
                          .arg(APIClient::kMaxRedirects);
    else if (error == QNetworkReply::RemoteHostClosedError || error == QNetworkReply::ContentReSendError)
        description = QStringLiteral("The account service closed the connection without answering.");
    const qint64 code = error == QNetworkReply::OperationCanceledError ? QNetworkReply::TimeoutError : error;
    return {APIErrors::kNetworkDomain, code, description, reply->errorString()};
}

// The standard reason phrases of the statuses an account service is likely to give; a server's
// own phrase is shown only for the others.
QString standardReason(int status)
{
    switch (status) {
    case 304: return QStringLiteral("Not Modified");
    case 400: return QStringLiteral("Bad Request");
    case 401: return QStringLiteral("Unauthorized");
    case 403: return QStringLiteral("Forbidden");
    case 404: return QStringLiteral("Not Found");
    case 405: return QStringLiteral("Method Not Allowed");
    case 408: return QStringLiteral("Request Timeout");
    case 409: return QStringLiteral("Conflict");
    case 410: return QStringLiteral("Gone");
    case 413: return QStringLiteral("Content Too Large");
    case 415: return QStringLiteral("Unsupported Media Type");
    case 419: return QStringLiteral("Page Expired");
    case 422: return QStringLiteral("Unprocessable Content");
    case 429: return QStringLiteral("Too Many Requests");
    case 500: return QStringLiteral("Internal Server Error");
    case 501: return QStringLiteral("Not Implemented");
    case 502: return QStringLiteral("Bad Gateway");
    case 503: return QStringLiteral("Service Unavailable");
    case 504: return QStringLiteral("Gateway Timeout");
    default: return {};
    }
}

bool looksLikeMarkup(const QString& text)
{
    return text.contains(u'<') && text.contains(u'>');
}

// One line of a text, at most `limit` characters (an ellipsis marks a cut).
QString firstLine(const QString& text, qsizetype limit)
{
    QString line = Text::trimmed(text);
    qsizetype end = 0;
    while (end < line.size() && line[end] != u'\n' && line[end] != u'\r' && line[end] != QChar(0x2028) && line[end] != QChar(0x2029))
        ++end;
    line = Text::trimmed(line.left(end));
    if (line.size() > limit)
        line = Text::trimmed(line.left(limit - 1)) + QChar(0x2026);
    return line;
}

// What a status outside 2xx tells the user: the JSON "message" (or "error") of the body when it
// has one; else "HTTP" with the status and its reason, followed by the body's first line when
// the body is a short plain text (never markup, never raw JSON).
QString statusDescription(int status, const QString& serverReason, const QByteArray& contentType, const QByteArray& body)
{
    if (const std::optional<QString> message = WireCoding::errorMessage(body))
        return *message;
    QString reason = standardReason(status);
    if (reason.isEmpty())
        reason = firstLine(serverReason, 80);
    if (looksLikeMarkup(reason))
        reason.clear();
    QString description = QStringLiteral("HTTP ") + QString::number(status);
    if (!reason.isEmpty())
        description += u' ' + reason;
    const QByteArray type = contentType.toLower();
    const bool plain = type.isEmpty() || type.startsWith("text/plain");
    if (const std::optional<QString> text = plain ? Text::decodeUtf8(body) : std::nullopt) {
        const QString line = firstLine(*text, 200);
        const bool json = line.startsWith(u'{') || line.startsWith(u'[');
        if (!line.isEmpty() && !json && !looksLikeMarkup(line) && line.compare(reason, Qt::CaseInsensitive) != 0)
            description += QStringLiteral(": ") + line;
    }
    return description;
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
    request.setMaximumRedirectsAllowed(kMaxRedirects);
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
    // A request with a body (a sign-in, a registration, a password change) goes out once.
    QNetworkReply* reply = body ? Network::sendOnce(manager, request, method, payload)
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
                const QString reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
                done({APIError{APIErrors::kDomain, code, statusDescription(code, reason, reply->rawHeader("Content-Type"), bytes), {}},
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
