#include "oauth/OAuthAuthorizationService.h"

#include "oauth/OAuthErrorUtilities.h"
#include "oauth/OAuthExternalUserAgentMac.h"
#include "oauth/OAuthIDToken.h"
#include "oauth/OAuthURLSessionProvider.h"
#include "platform/Dispatch.h"
#include "platform/Network.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>

namespace OAuthAuthorizationService {

namespace {

constexpr int TransferTimeoutMs = 60000;
const QString TransportErrorDomain = QStringLiteral("Kovani.Network");

void deliverLater(TokenCallback callback, OAuthTokenResponsePtr response, std::optional<DomainError> error)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [pending = Dispatch::pendingWork(), callback = std::move(callback), response = std::move(response),
         error = std::move(error)]() { callback(response, error); },
        Qt::QueuedConnection);
}

DomainError connectionError(const QUrl& url, const DomainError& transport)
{
    return OAuthErrorUtilities::errorWithCode(
        OAuthErrorCodeNetworkError, transport,
        QStringLiteral("Connection error making token request to '%1': %2.")
            .arg(url.toString(QUrl::FullyEncoded), transport.localizedDescription));
}

DomainError transportError(QNetworkReply* reply, const Network::BodyReader& reader)
{
    if (reader.failure() == Network::BodyReader::Failure::deadline)
        return DomainError(TransportErrorDomain, QNetworkReply::TimeoutError, reader.failureText());
    if (reader.failure() == Network::BodyReader::Failure::tooLarge)
        return DomainError(TransportErrorDomain, QNetworkReply::UnknownContentError, reader.failureText());
    // A transfer time-out ends the reply as "cancelled"; it is a time-out here.
    if (reply->error() == QNetworkReply::OperationCanceledError)
        return DomainError(TransportErrorDomain, QNetworkReply::TimeoutError, QStringLiteral("The request timed out."));
    return DomainError(TransportErrorDomain, reply->error(), reply->errorString());
}

// The ID-token checks, in order; the first that fails gives the error.
std::optional<DomainError> checkIDToken(const QString& idTokenText, const OAuthTokenRequest& request,
                                        const OAuthAuthorizationResponsePtr& original)
{
    auto fail = [](qint64 code, const QString& text) {
        return OAuthErrorUtilities::errorWithCode(code, std::nullopt, text);
    };
    const OAuthIDTokenPtr idToken = OAuthIDToken::initWithIDTokenString(idTokenText);
    if (!idToken)
        return fail(OAuthErrorCodeIDTokenParsingError, QStringLiteral("ID Token parsing failed"));

    if (const auto& issuer = request.configuration()->issuer();
        issuer && idToken->issuer().toString(QUrl::FullyEncoded) != issuer->toString(QUrl::FullyEncoded))
        return fail(OAuthErrorCodeIDTokenFailedValidationError, QStringLiteral("Issuer mismatch"));

    const QJsonValue azp = idToken->claims().value(QStringLiteral("azp"));
    if (!idToken->audience().contains(request.clientID())
        && !(azp.isString() && azp.toString() == request.clientID()))
        return fail(OAuthErrorCodeIDTokenFailedValidationError, QStringLiteral("Audience mismatch"));

    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (idToken->expiresAt() < now)
        return fail(OAuthErrorCodeIDTokenFailedValidationError, QStringLiteral("ID Token expired"));

    if (qAbs(now.msecsTo(idToken->issuedAt())) > qint64(IssuedAtTolerance) * 1000)
        return fail(OAuthErrorCodeIDTokenFailedValidationError,
                    QStringLiteral("Issued at time is more than %1 seconds before or after the current time")
                        .arg(IssuedAtTolerance));

    if (request.grantType() == OAuthGrantTypeAuthorizationCode && original && original->request()->nonce()
        && idToken->nonce() != original->request()->nonce())
        return fail(OAuthErrorCodeIDTokenFailedValidationError, QStringLiteral("Nonce mismatch"));
    return std::nullopt;
}

void finished(QNetworkReply* reply, Network::BodyReader& reader, const OAuthTokenRequestPtr& request,
              const OAuthAuthorizationResponsePtr& original, const TokenCallback& callback)
{
    const QUrl url = request->tokenRequestURL();
    const QByteArray body = reader.takeBody();
    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // A body past the limit or an exchange past its deadline is a failed connection, whatever
    // status came before.
    if (!statusAttribute.isValid() || reader.failure() != Network::BodyReader::Failure::none) {
        callback(nullptr, connectionError(url, transportError(reply, reader)));
        return;
    }
    const int status = statusAttribute.toInt();
    if (status != 200) {
        const DomainError http = OAuthErrorUtilities::HTTPErrorWithHTTPResponse(status, body);
        if (status >= 400 && status <= 499) {
            const QJsonDocument document = QJsonDocument::fromJson(body);
            if (document.isObject() && document.object().contains(QStringLiteral("error"))) {
                callback(nullptr, OAuthErrorUtilities::OAuthErrorWithDomain(OAuthTokenErrorDomain, document.object(), http));
                return;
            }
        }
        callback(nullptr, OAuthErrorUtilities::errorWithCode(
                              OAuthErrorCodeServerError, http,
                              QStringLiteral("Non-200 HTTP response (%1) making token request to '%2'.")
                                  .arg(QString::number(status), url.toString(QUrl::FullyEncoded))));
        return;
    }
    // A reply that broke off after its status line is a connection failure, not an answer.
    if (reply->error() != QNetworkReply::NoError) {
        callback(nullptr, connectionError(url, transportError(reply, reader)));
        return;
    }

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        const DomainError underlying(QStringLiteral("Kovani.JSON"), parseError.error, parseError.errorString());
        callback(nullptr, OAuthErrorUtilities::errorWithCode(
                              OAuthErrorCodeJSONDeserializationError, underlying,
                              QStringLiteral("JSON error parsing token response: %1").arg(parseError.errorString())));
        return;
    }
    if (!document.isObject()) {
        callback(nullptr, OAuthErrorUtilities::errorWithCode(OAuthErrorCodeTokenResponseConstructionError, std::nullopt,
                                                             QStringLiteral("Token response invalid.")));
        return;
    }
    auto response = std::make_shared<const OAuthTokenResponse>(request, document.object());
    if (response->idToken())
        if (auto failure = checkIDToken(*response->idToken(), *request, original)) {
            callback(nullptr, failure);
            return;
        }
    callback(response, std::nullopt);
}

} // namespace

std::shared_ptr<OAuthAuthorizationSession> presentAuthorizationRequest(const OAuthAuthorizationRequestPtr& request,
                                                                       QWidget* presentingWindow,
                                                                       OAuthAuthorizationSession::Callback callback)
{
    auto agent = std::make_shared<OAuthExternalUserAgentMac>(presentingWindow, false);
    return presentAuthorizationRequest(request, agent, std::move(callback));
}

std::shared_ptr<OAuthAuthorizationSession> presentAuthorizationRequest(const OAuthAuthorizationRequestPtr& request,
                                                                       std::shared_ptr<OAuthExternalUserAgent> externalUserAgent,
                                                                       OAuthAuthorizationSession::Callback callback)
{
    auto session = std::make_shared<OAuthAuthorizationSession>(request);
    session->presentAuthorizationWithExternalUserAgent(std::move(externalUserAgent), std::move(callback));
    return session;
}

void performTokenRequest(const OAuthTokenRequestPtr& request, const OAuthAuthorizationResponsePtr& originalAuthorizationResponse,
                         TokenCallback callback)
{
    const OAuthHTTPRequest http = request->URLRequest();
    if (http.url.scheme() != QLatin1String("https")) {
        const DomainError refused(TransportErrorDomain, QNetworkReply::ProtocolUnknownError,
                                  QStringLiteral("The token endpoint must use HTTPS"));
        deliverLater(std::move(callback), nullptr, connectionError(http.url, refused));
        return;
    }

    QNetworkRequest networkRequest(http.url);
    for (const auto& [name, value] : http.headers)
        networkRequest.setRawHeader(name, value);
    networkRequest.setSslConfiguration(Network::tlsConfiguration());
    networkRequest.setTransferTimeout(TransferTimeoutMs);
    // A redirect is not followed: it is an answer other than 200.
    networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    networkRequest.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    networkRequest.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);

    QNetworkReply* reply = OAuthURLSessionProvider::session().sendCustomRequest(networkRequest, http.method, http.body);
    Network::BodyReader* reader = Network::BodyReader::attach(reply);
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, reader, request, originalAuthorizationResponse, callback]() {
        reply->deleteLater();
        finished(reply, *reader, request, originalAuthorizationResponse, [callback](const OAuthTokenResponsePtr& response,
                                                                          const std::optional<DomainError>& error) {
            deliverLater(callback, response, error);
        });
    });
}

} // namespace OAuthAuthorizationService
