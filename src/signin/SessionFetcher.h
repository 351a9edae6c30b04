#pragma once

#include "signin/SignInErrors.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class SessionCookieStorage;
namespace Network {
class BodyReader;
}

// Error domains and user-info keys of the fetcher.
inline const QString kSessionFetcherErrorDomain = QStringLiteral("Kovani.SessionFetcher");
inline const QString kSessionFetcherStatusDomain = QStringLiteral("Kovani.HTTPStatus");
// Transport failures, with the URL-loading codes (-1001 timed out, -1005 connection lost, ...).
inline const QString kSessionFetcherURLLoadingDomain = QStringLiteral("Kovani.URLLoading");
inline const QString kSessionFetcherFailingURLStringKey = QStringLiteral("NSErrorFailingURLStringKey");
inline const QString kSessionFetcherElapsedIntervalWithRetriesKey = QStringLiteral("kSessionFetcherElapsedIntervalWithRetriesKey");
inline const QString kSessionFetcherNumberOfRetriesDoneKey = QStringLiteral("kSessionFetcherNumberOfRetriesDoneKey");

// One HTTP request over its own network session per attempt, with retries of transient failures
// at growing intervals, and one completion on the main thread. The whole fetch, retries
// included, ends by the deadline of Network::limits() counted from the first begin, and a body
// past its largest size fails the fetch (URL-loading -1103) without a retry.
//
// The fetcher keeps itself alive from begin until its completion is handed out or it is stopped.
class SessionFetcher : public QObject, public std::enable_shared_from_this<SessionFetcher> {
    Q_OBJECT

public:
    using Completion = std::function<void(const std::optional<QByteArray>& data, const std::optional<DomainError>& error)>;
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    enum ErrorCode {
        ErrorCodeDownloadFailed = -1,
        ErrorCodeInsecureRequest = -5,
        ErrorCodeTaskCreationFailed = -6,
        ErrorCodeUserCancelled = -7,
    };

    // Redirects followed within one attempt before it fails.
    static constexpr int kMaxRedirects = 10;
    // Retries that a "Retry-After" header may add past the interval and elapsed-time limits.
    static constexpr int kMaxRetriesPastLimits = 3;

    static std::shared_ptr<SessionFetcher> fetcherWithRequest(const QNetworkRequest& request);
    ~SessionFetcher() override;

    // ---- Configuration (before begin) -----------------------------------------------------
    QNetworkRequest request() const { return m_request; }
    QByteArray httpMethod() const { return m_method; }
    void setHttpMethod(const QByteArray& method) { m_method = method; }
    void setBodyData(const QByteArray& body) { m_bodyData = body; }
    QByteArray bodyData() const { return m_bodyData; }

    bool isRetryEnabled() const { return m_retryEnabled; }
    void setRetryEnabled(bool enabled);
    double maxRetryInterval() const { return m_maxRetryInterval; }
    void setMaxRetryInterval(double seconds);
    double minRetryInterval() const { return m_minRetryInterval; }
    void setMinRetryInterval(double seconds);
    double retryFactor() const { return m_retryFactor; }
    void setRetryFactor(double factor) { m_retryFactor = factor; }
    double lastRetryInterval() const { return m_lastRetryInterval; }

    QString comment() const { return m_comment; }
    void setComment(const QString& comment) { m_comment = comment; }
    bool allowLocalhostRequest() const { return m_allowLocalhostRequest; }
    void setAllowLocalhostRequest(bool allow) { m_allowLocalhostRequest = allow; }
    QStringList allowedInsecureSchemes() const { return m_allowedInsecureSchemes; }
    void setAllowedInsecureSchemes(const QStringList& schemes) { m_allowedInsecureSchemes = schemes; }
    bool stopFetchingTriggersCompletionHandler() const { return m_stopFetchingTriggersCompletionHandler; }
    void setStopFetchingTriggersCompletionHandler(bool triggers) { m_stopFetchingTriggersCompletionHandler = triggers; }
    // None: the process-wide jar.
    SessionCookieStorage* cookieStorage() const { return m_cookieStorage; }
    void setCookieStorage(SessionCookieStorage* storage) { m_cookieStorage = storage; }

    // The clock that retry limits and "Retry-After" dates are measured with; tests move it.
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

    // ---- Running ---------------------------------------------------------------------------
    void beginFetchWithCompletionHandler(Completion completion);
    // Stops the fetch; its completion is not called (unless stopFetchingTriggersCompletionHandler
    // is set, then once with -7).
    void stopFetching();

    bool isFetching() const { return m_reply != nullptr || m_retryTimer.isActive(); }
    int statusCode() const { return m_statusCode; }
    Headers responseHeaders() const { return m_responseHeaders; }
    QByteArray responseHeader(const QByteArray& name) const;
    QByteArray downloadedData() const { return m_downloadedData; }
    qint64 downloadedLength() const { return m_downloadedData.size(); }
    unsigned retryCount() const { return m_retryCount; }
    int redirectCount() const { return m_redirectCount; }

    // ---- Rules, exposed for their own tests ------------------------------------------------
    // The URL a redirect continues with from `current`: the redirect's own when the schemes are
    // equal or it upgrades http to https, else the redirect with the current scheme.
    static QUrl redirectURL(const QUrl& current, const QUrl& redirect);
    // A "Retry-After" value in seconds from `now` (an HTTP date, else whole seconds; never < 0).
    static double retryAfterSeconds(const QByteArray& value, const QDateTime& now);
    // The URL as text without its query and fragment, for error texts and logs.
    static QString urlForDisplay(const QUrl& url);

signals:
    void started();
    void stopped();
    void retryDelayStarted(double seconds);
    void retryDelayStopped();
    // "data" and "error" (a DomainError) when present.
    void completionInvoked(const QVariantMap& info);

private:
    explicit SessionFetcher(const QNetworkRequest& request);

    void beginFetch();
    bool isRequestAllowed(const QUrl& url) const;
    void startTask(const QNetworkRequest& request);
    void taskFinished();
    void followRedirect(const QUrl& location);
    bool shouldRetryNow(int status, const std::optional<DomainError>& error);
    double nextRetryInterval() const;
    // The wait before the next retry: nextRetryInterval(), at most the longest retry interval.
    double retryDelay() const;
    DomainError statusError() const;
    void finish(const std::optional<DomainError>& error, bool shouldRetry);
    void failToBegin(const DomainError& error);
    void beginRetryTimer();
    void retryTimerFired();
    void destroyRetryTimer();
    void stopFetch(bool releaseCallbacks);
    void sendStopNotificationIfNeeded();
    void invokeCompletion(const std::optional<QByteArray>& data, const std::optional<DomainError>& error);
    QDateTime now() const { return m_clock ? m_clock() : QDateTime::currentDateTimeUtc(); }
    DomainError transportError(QNetworkReply* reply) const;
    // Milliseconds left of the fetch's deadline.
    qint64 remainingMs() const;

    QNetworkRequest m_request;
    QByteArray m_method = "GET";
    QByteArray m_bodyData;

    QNetworkAccessManager* m_session = nullptr;
    QPointer<QNetworkReply> m_reply;
    QPointer<Network::BodyReader> m_reader;
    QElapsedTimer m_fetchClock;
    int m_deadlineMs = 0;
    qint64 m_maxBodyBytes = 0;
    int m_statusCode = 0;
    Headers m_responseHeaders;
    QByteArray m_downloadedData;
    int m_redirectCount = 0;

    bool m_isStopNotificationNeeded = false;
    bool m_hasStoppedFetching = false;
    bool m_userStoppedFetching = false;
    bool m_retryEnabled = false;
    QTimer m_retryTimer;
    unsigned m_retryCount = 0;
    int m_retriesPastLimits = 0;
    double m_maxRetryInterval = -1;
    double m_minRetryInterval = 1;
    double m_retryFactor = 2.0;
    double m_lastRetryInterval = 0;
    QDateTime m_initialBeginFetchDate;
    QDateTime m_initialRequestDate;
    QString m_comment;

    bool m_allowLocalhostRequest = false;
    bool m_stopFetchingTriggersCompletionHandler = false;
    QStringList m_allowedInsecureSchemes;
    SessionCookieStorage* m_cookieStorage = nullptr;

    Completion m_completion;
    std::shared_ptr<SessionFetcher> m_self;
    std::function<QDateTime()> m_clock;
};
