#include "signin/SessionFetcher.h"

#include "platform/Dispatch.h"
#include "platform/Network.h"
#include "signin/SessionCookieStorage.h"

#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTimeZone>

#include <algorithm>

namespace {

double randomMinRetryInterval()
{
    return 1.0 + double(QRandomGenerator::global()->bounded(65535)) / 65535.0;
}

bool isRedirectStatus(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool isRetryable(const DomainError& error)
{
    if (error.domain == kSessionFetcherStatusDomain)
        return error.code == 408 || error.code == 502 || error.code == 503 || error.code == 504;
    if (error.domain == kSessionFetcherURLLoadingDomain)
        return error.code == -1001 || error.code == -1005;
    return false;
}

// "Wed, 21 Oct 2015 07:28:00 GMT"
std::optional<QDateTime> parseHTTPDate(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral(
        "^[A-Za-z]{3}, (\\d{2}) ([A-Za-z]{3}) (\\d{4}) (\\d{2}):(\\d{2}):(\\d{2}) GMT$"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    static const QStringList months = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const int month = int(months.indexOf(m.captured(2))) + 1;
    if (month == 0)
        return std::nullopt;
    const QDate date(m.captured(3).toInt(), month, m.captured(1).toInt());
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, QTimeZone::utc());
}

// Leading whole seconds ("5", "+5", "-3", "12abc"); anything else is 0.
double leadingSeconds(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*([+-]?\\d{1,12})"));
    const QRegularExpressionMatch m = pattern.match(text);
    return m.hasMatch() ? m.captured(1).toDouble() : 0.0;
}

QString replaceAll(QString text, const QString& what, const QString& with)
{
    if (what.isEmpty())
        return text;
    return text.replace(what, with);
}

} // namespace

std::shared_ptr<SessionFetcher> SessionFetcher::fetcherWithRequest(const QNetworkRequest& request)
{
    return std::shared_ptr<SessionFetcher>(new SessionFetcher(request),
                                           [](SessionFetcher* fetcher) { fetcher->deleteLater(); });
}

SessionFetcher::SessionFetcher(const QNetworkRequest& request)
    : m_request(request), m_minRetryInterval(randomMinRetryInterval())
{
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, &SessionFetcher::retryTimerFired);
}

SessionFetcher::~SessionFetcher()
{
    if (m_reply) {
        disconnect(m_reply, nullptr, this, nullptr);
        m_reply->abort();
    }
}

void SessionFetcher::setRetryEnabled(bool enabled)
{
    if (enabled && !m_retryEnabled) {
        m_minRetryInterval = randomMinRetryInterval();
        m_maxRetryInterval = -1;
        m_retryFactor = 2.0;
        m_lastRetryInterval = 0.0;
    }
    m_retryEnabled = enabled;
}

void SessionFetcher::setMaxRetryInterval(double seconds)
{
    m_maxRetryInterval = seconds > 0 ? seconds : -1;
}

void SessionFetcher::setMinRetryInterval(double seconds)
{
    m_minRetryInterval = seconds > 0 ? seconds : randomMinRetryInterval();
}

QByteArray SessionFetcher::responseHeader(const QByteArray& name) const
{
    for (const auto& header : m_responseHeaders)
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return header.second;
    return {};
}

QString SessionFetcher::urlForDisplay(const QUrl& url)
{
    return url.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo).toString();
}

QUrl SessionFetcher::redirectURL(const QUrl& current, const QUrl& redirect)
{
    const QString from = current.scheme().toLower();
    const QString to = redirect.scheme().toLower();
    if ((!from.isEmpty() && !to.isEmpty() && from == to)
        || (from == QLatin1String("http") && to == QLatin1String("https")))
        return redirect;
    QUrl adjusted = redirect;
    adjusted.setScheme(from.isEmpty() ? QStringLiteral("https") : from);
    return adjusted;
}

double SessionFetcher::retryAfterSeconds(const QByteArray& value, const QDateTime& now)
{
    const QString text = QString::fromLatin1(value).trimmed();
    double seconds = 0;
    if (const auto date = parseHTTPDate(text))
        seconds = double(now.msecsTo(*date)) / 1000.0;
    else
        seconds = leadingSeconds(text);
    return std::max(0.0, seconds);
}

void SessionFetcher::beginFetchWithCompletionHandler(Completion completion)
{
    if (isFetching()) {
        // A second begin fails on its own; the running fetch keeps its completion.
        const QString failing = urlForDisplay(m_request.url());
        std::shared_ptr<SessionFetcher> self = shared_from_this();
        Dispatch::main([self, completion, failing]() {
            if (completion)
                completion(std::nullopt, makeError(kSessionFetcherErrorDomain, ErrorCodeDownloadFailed, {},
                                                     {{kSessionFetcherFailingURLStringKey, failing}}));
        });
        return;
    }
    m_completion = std::move(completion);
    m_self = shared_from_this();
    beginFetch();
}

bool SessionFetcher::isRequestAllowed(const QUrl& url) const
{
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return true;
    for (const QString& allowed : m_allowedInsecureSchemes)
        if (allowed.compare(scheme, Qt::CaseInsensitive) == 0)
            return true;
    const bool local = (scheme == QLatin1String("file") && url.host().isEmpty())
        || SessionCookieStorage::isLocalHost(url.host());
    return local && m_allowLocalhostRequest;
}

void SessionFetcher::failToBegin(const DomainError& error)
{
    invokeCompletion(std::nullopt, error);
    m_completion = nullptr;
    m_self.reset();
}

void SessionFetcher::beginFetch()
{
    if (!m_initialBeginFetchDate.isValid()) {
        m_initialBeginFetchDate = now();
        const Network::Limits limits = Network::limits();
        m_deadlineMs = limits.deadlineMs;
        m_maxBodyBytes = limits.maxBodyBytes;
        m_fetchClock.start();
    }
    const QUrl url = m_request.url();
    const QString failing = url.isEmpty() ? QStringLiteral("(missing URL)") : urlForDisplay(url);
    if (m_reply) {
        failToBegin(makeError(kSessionFetcherErrorDomain, ErrorCodeDownloadFailed, {},
                                {{kSessionFetcherFailingURLStringKey, failing}}));
        return;
    }
    if (url.isEmpty() || !url.isValid()) {
        failToBegin(makeError(kSessionFetcherErrorDomain, ErrorCodeDownloadFailed, {},
                                {{kSessionFetcherFailingURLStringKey, QStringLiteral("(missing URL)")}}));
        return;
    }
    // There is no platform transport security to defer to: the check always applies.
    if (url.scheme().compare(QLatin1String("data"), Qt::CaseInsensitive) != 0 && !isRequestAllowed(url)) {
        qWarning("Insecure fetch disallowed for %s", qUtf8Printable(failing));
        failToBegin(makeError(kSessionFetcherErrorDomain, ErrorCodeInsecureRequest, {},
                                {{kSessionFetcherFailingURLStringKey, failing}}));
        return;
    }

    SessionCookieStorage* jar = m_cookieStorage ? m_cookieStorage : SessionCookieStorage::shared();
    m_session = new QNetworkAccessManager(this);
    m_session->setCookieJar(jar);
    jar->setParent(nullptr); // shared: never deleted with a session
    m_session->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);

    m_downloadedData.clear();
    m_statusCode = 0;
    m_responseHeaders.clear();
    m_redirectCount = 0;
    m_hasStoppedFetching = false;

    const QByteArray override = m_request.rawHeader("X-HTTP-Method-Override").toUpper();
    if (!m_bodyData.isEmpty() && (m_method.isEmpty() || m_method.toUpper() == "GET" || override == "GET"))
        m_method = "POST";
    const QByteArray method = m_method.toUpper();
    if (m_retryEnabled && m_maxRetryInterval <= 0)
        m_maxRetryInterval = (method == "GET" || method == "HEAD") ? 60.0 : 600.0;

    if (!m_initialRequestDate.isValid())
        m_initialRequestDate = now();
    startTask(m_request);
    if (!m_reply) {
        qWarning("SessionFetcher: could not create a task for %s", qUtf8Printable(failing));
        failToBegin(makeError(kSessionFetcherErrorDomain, ErrorCodeTaskCreationFailed, {},
                                {{kSessionFetcherFailingURLStringKey, failing}}));
        return;
    }
    sendStopNotificationIfNeeded();
    m_isStopNotificationNeeded = true;
    emit started();
}

void SessionFetcher::startTask(const QNetworkRequest& request)
{
    QNetworkRequest r(request);
    r.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    r.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    r.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    r.setTransferTimeout(60000);
    if (r.url().scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0) {
        r.setSslConfiguration(Network::tlsConfiguration());
    }
    const QByteArray method = m_method.toUpper();
    QNetworkReply* reply = nullptr;
    if (method == "GET" && m_bodyData.isEmpty())
        reply = m_session->get(r);
    else if (method == "HEAD")
        reply = m_session->head(r);
    else
        reply = m_session->sendCustomRequest(r, method, m_bodyData);
    m_reply = reply;
    if (!reply)
        return;
    // The body is read as it arrives, within the size limit and the fetch's remaining time.
    m_reader = Network::BodyReader::attach(reply, {m_maxBodyBytes, m_deadlineMs}, m_fetchClock.isValid() ? m_fetchClock.elapsed() : 0);
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply]() {
        if (reply != m_reply)
            return;
        m_statusCode = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        m_responseHeaders = reply->rawHeaderPairs();
        m_downloadedData.clear();
    });
    connect(reply, &QNetworkReply::finished, this, &SessionFetcher::taskFinished);
}

DomainError SessionFetcher::transportError(QNetworkReply* reply) const
{
    int code = -1;
    QString description;
    switch (reply->error()) {
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError: // the transfer time-out; a stop never gets here
        code = -1001;
        description = QStringLiteral("The request timed out.");
        break;
    case QNetworkReply::RemoteHostClosedError:
        code = -1005;
        description = QStringLiteral("The network connection was lost.");
        break;
    case QNetworkReply::ConnectionRefusedError:
        code = -1004;
        description = QStringLiteral("Could not connect to the server.");
        break;
    case QNetworkReply::HostNotFoundError:
        code = -1003;
        description = QStringLiteral("A server with the specified hostname could not be found.");
        break;
    case QNetworkReply::SslHandshakeFailedError:
        code = -1200;
        break;
    default:
        break;
    }
    const QString url = urlForDisplay(reply->url());
    if (description.isEmpty()) {
        // Qt's texts may quote the whole URL; never with its query.
        description = reply->errorString();
        description = replaceAll(description, reply->url().toString(), url);
        description = replaceAll(description, reply->url().toString(QUrl::FullyEncoded), url);
        description = replaceAll(description, reply->url().toDisplayString(), url);
        const QString query = reply->url().query(QUrl::FullyEncoded);
        description = replaceAll(description, query, QStringLiteral("..."));
        const QString decodedQuery = reply->url().query(QUrl::FullyDecoded);
        description = replaceAll(description, decodedQuery, QStringLiteral("..."));
    }
    return makeError(kSessionFetcherURLLoadingDomain, code, description,
                       {{kSessionFetcherFailingURLStringKey, url}});
}

void SessionFetcher::taskFinished()
{
    QNetworkReply* reply = m_reply;
    if (!reply || sender() != reply)
        return;
    m_reply = nullptr;
    reply->deleteLater();
    if (m_userStoppedFetching)
        return;
    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    m_statusCode = statusAttribute.isValid() ? statusAttribute.toInt() : 0;
    m_responseHeaders = reply->rawHeaderPairs();
    Network::BodyReader* reader = m_reader.data();
    m_reader.clear();
    m_downloadedData = reader ? reader->takeBody() : reply->readAll();
    if (reader && reader->failure() != Network::BodyReader::Failure::none) {
        // Past the deadline nothing is retried; a body past the limit is no transient failure.
        const bool late = reader->failure() == Network::BodyReader::Failure::deadline;
        finish(makeError(kSessionFetcherURLLoadingDomain, late ? -1001 : -1103, reader->failureText(),
                         {{kSessionFetcherFailingURLStringKey, urlForDisplay(reply->url())}}),
               false);
        return;
    }

    if (isRedirectStatus(m_statusCode) && reply->hasRawHeader("Location")) {
        const QUrl location = reply->url().resolved(QUrl::fromEncoded(reply->rawHeader("Location")));
        followRedirect(location);
        return;
    }

    std::optional<DomainError> error;
    const QNetworkReply::NetworkError code = reply->error();
    // 4xx/5xx set an error too: the status decides those; only transport failures count here.
    const bool transport = code != QNetworkReply::NoError
        && (m_statusCode == 0 || code < QNetworkReply::ContentAccessDenied
            || (code >= QNetworkReply::ProtocolUnknownError && code < QNetworkReply::InternalServerError));
    if (transport)
        error = transportError(reply);
    if (!error && m_statusCode < 300) {
        finish(std::nullopt, false);
        return;
    }
    const bool retry = shouldRetryNow(m_statusCode, error);
    finish(error, retry);
}

void SessionFetcher::followRedirect(const QUrl& location)
{
    const int status = m_statusCode;
    if (++m_redirectCount > kMaxRedirects) {
        finish(makeError(kSessionFetcherURLLoadingDomain, -1007, QStringLiteral("Too many redirects."),
                           {{kSessionFetcherFailingURLStringKey, urlForDisplay(location)}}),
               false);
        return;
    }
    const QUrl next = redirectURL(m_request.url(), location);
    if (!isRequestAllowed(next)) {
        qWarning("Insecure fetch disallowed for %s", qUtf8Printable(urlForDisplay(next)));
        finish(makeError(kSessionFetcherErrorDomain, ErrorCodeInsecureRequest, {},
                           {{kSessionFetcherFailingURLStringKey, urlForDisplay(next)}}),
               false);
        return;
    }
    const QByteArray method = m_method.toUpper();
    if (status == 303 || ((status == 301 || status == 302) && method == "POST")) {
        m_method = "GET";
        m_bodyData.clear();
    }
    m_request.setUrl(next);
    m_downloadedData.clear();
    startTask(m_request);
    if (!m_reply)
        finish(makeError(kSessionFetcherErrorDomain, ErrorCodeTaskCreationFailed, {},
                           {{kSessionFetcherFailingURLStringKey, urlForDisplay(next)}}),
               false);
}

DomainError SessionFetcher::statusError() const
{
    QVariantMap info;
    if (!m_downloadedData.isEmpty()) {
        info.insert(QStringLiteral("data"), m_downloadedData);
        const QByteArray type = responseHeader("Content-Type");
        if (!type.isEmpty())
            info.insert(QStringLiteral("data_content_type"), QString::fromLatin1(type));
    }
    return makeError(kSessionFetcherStatusDomain, m_statusCode,
                       QStringLiteral("The operation couldn't be completed. (%1 error %2.)")
                           .arg(kSessionFetcherStatusDomain)
                           .arg(m_statusCode),
                       info);
}

double SessionFetcher::nextRetryInterval() const
{
    // A 503 waits the server's time, never less than the minimum interval: "Retry-After: 0" or a
    // date gone by must not turn the retries into a spin.
    const QByteArray retryAfter = responseHeader("Retry-After");
    if (m_statusCode == 503 && !retryAfter.isEmpty())
        return std::max(retryAfterSeconds(retryAfter, now()), m_minRetryInterval);
    double interval = m_lastRetryInterval * m_retryFactor;
    if (m_maxRetryInterval > 0 && interval > m_maxRetryInterval)
        interval = m_maxRetryInterval;
    if (interval < m_minRetryInterval)
        interval = m_minRetryInterval;
    return interval;
}

double SessionFetcher::retryDelay() const
{
    const double interval = nextRetryInterval();
    return m_maxRetryInterval > 0 && interval > m_maxRetryInterval ? m_maxRetryInterval : interval;
}

qint64 SessionFetcher::remainingMs() const
{
    return m_fetchClock.isValid() ? m_deadlineMs - m_fetchClock.elapsed() : m_deadlineMs;
}

bool SessionFetcher::shouldRetryNow(int status, const std::optional<DomainError>& error)
{
    Q_UNUSED(status);
    if (!m_retryEnabled)
        return false;
    // A retry that would begin after the fetch's deadline is not made.
    if (double(remainingMs()) <= retryDelay() * 1000.0)
        return false;
    const bool hasRetryAfter = !responseHeader("Retry-After").isEmpty();
    const double elapsed = double(m_initialRequestDate.msecsTo(now())) / 1000.0;
    const bool withinLimits = m_maxRetryInterval > 0 && nextRetryInterval() < m_maxRetryInterval
        && elapsed <= 3 * m_maxRetryInterval;
    if (!withinLimits && (!hasRetryAfter || m_retriesPastLimits >= kMaxRetriesPastLimits))
        return false;
    const DomainError status_ = statusError();
    const bool retry = error ? (isRetryable(*error) || isRetryable(status_)) : isRetryable(status_);
    if (retry && !withinLimits)
        ++m_retriesPastLimits;
    return retry;
}

void SessionFetcher::finish(const std::optional<DomainError>& error, bool shouldRetry)
{
    if (shouldRetry) {
        beginRetryTimer();
        return;
    }
    std::optional<DomainError> finalError = error;
    if (!finalError && m_statusCode >= 300) {
        finalError = statusError();
        if (m_retryCount > 0) {
            finalError->userInfo.insert(kSessionFetcherElapsedIntervalWithRetriesKey,
                                        double(m_initialRequestDate.msecsTo(now())) / 1000.0);
            finalError->userInfo.insert(kSessionFetcherNumberOfRetriesDoneKey, m_retryCount);
        }
    }
    std::optional<QByteArray> data;
    if (!finalError)
        data = m_downloadedData.isNull() ? QByteArray("") : m_downloadedData;
    else if (!m_downloadedData.isEmpty())
        data = m_downloadedData;
    sendStopNotificationIfNeeded();
    invokeCompletion(data, finalError);
    stopFetch(true);
}

void SessionFetcher::invokeCompletion(const std::optional<QByteArray>& data, const std::optional<DomainError>& error)
{
    Completion handler = m_completion;
    std::shared_ptr<SessionFetcher> self = shared_from_this();
    Dispatch::main([self, handler, data, error]() {
        if (self->m_userStoppedFetching && !self->m_stopFetchingTriggersCompletionHandler)
            return;
        if (handler)
            handler(data, error);
        QVariantMap info;
        if (data)
            info.insert(QStringLiteral("data"), *data);
        if (error)
            info.insert(QStringLiteral("error"), QVariant::fromValue(*error));
        emit self->completionInvoked(info);
    });
}

void SessionFetcher::beginRetryTimer()
{
    destroyRetryTimer();
    const double interval = retryDelay();
    m_lastRetryInterval = interval;
    m_retryTimer.start(int(std::llround(interval * 1000.0)));
    emit retryDelayStarted(interval);
    sendStopNotificationIfNeeded();
}

void SessionFetcher::destroyRetryTimer()
{
    if (m_retryTimer.isActive()) {
        m_retryTimer.stop();
        emit retryDelayStopped();
    }
}

void SessionFetcher::retryTimerFired()
{
    emit retryDelayStopped();
    ++m_retryCount;
    stopFetch(false);
    beginFetch();
}

void SessionFetcher::stopFetch(bool releaseCallbacks)
{
    destroyRetryTimer();
    m_hasStoppedFetching = true;
    if (QNetworkReply* reply = m_reply) {
        m_reply = nullptr;
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
        reply->deleteLater();
    }
    if (m_session) {
        m_session->deleteLater();
        m_session = nullptr;
    }
    sendStopNotificationIfNeeded();
    if (releaseCallbacks) {
        m_completion = nullptr;
        m_self.reset();
    }
}

void SessionFetcher::stopFetching()
{
    const bool wasFetching = isFetching();
    m_userStoppedFetching = true;
    if (m_stopFetchingTriggersCompletionHandler && wasFetching && m_completion) {
        DomainError error(kSessionFetcherErrorDomain, ErrorCodeUserCancelled, QStringLiteral("Operation cancelled"));
        error.underlying = std::make_shared<const DomainError>(kSessionFetcherURLLoadingDomain, -999, QStringLiteral("cancelled"));
        invokeCompletion(std::nullopt, error);
    }
    stopFetch(true);
}

void SessionFetcher::sendStopNotificationIfNeeded()
{
    if (m_isStopNotificationNeeded) {
        m_isStopNotificationNeeded = false;
        emit stopped();
    }
}
