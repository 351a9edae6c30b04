#pragma once

#include "account/APIError.h"
#include "account/APIRecords.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>
#include <variant>

// The one client of the account service: JSON over HTTPS under a base URL ending in "/api".
// Each call is one exchange: no retry, no queue, no cancellation, no cookies, no state kept
// between requests; the token travels with each call, and a request with a body is never sent
// again by the network layer. A status outside 2xx fails with the reply's own message (its JSON
// "message" or "error"), else with "HTTP", the status and a short reason. Calls are made on the
// main thread; the completion runs exactly once, on the main thread, either at once (a body that
// cannot be encoded, an unusable base URL: nothing is sent) or when the exchange ends. Callers
// that touch model state hop with a queued call first.
class APIClient {
public:
    using QueryItems = QList<QPair<QString, QString>>;

    static APIClient& shared();

    // The account service's base URL, parsed again only when the text changes.
    void setBaseURL(const QString& text);
    QString baseURLText() const { return m_baseText; }

    // The build's constants sent with every request.
    static QString bundleIdentifier(); // "X-Bundle-ID" and the "app_id" of requests
    static QString appVersion();       // "X-App-Version"
    // The idle limit; Network::limits() bounds the body and the whole exchange as well.
    static constexpr int kTimeoutMs = 60000;
    // Same-origin redirects followed before the request fails as an endless redirect.
    static constexpr int kMaxRedirects = 10;

    // The URL of an endpoint (the path appended as a path component); empty when the base URL
    // is unusable.
    QUrl endpointURL(const QString& path, const QueryItems& queryItems = {}) const;

    template <typename Reply, typename Body>
    void post(const QString& path, const std::optional<QString>& token, const Body& body,
              std::function<void(const APIResult<Reply>&)> completion)
    {
        send(QByteArrayLiteral("POST"), path, token, body.encode(), {}, decoding<Reply>(std::move(completion)));
    }

    template <typename Reply, typename Body>
    void put(const QString& path, const std::optional<QString>& token, const Body& body,
             std::function<void(const APIResult<Reply>&)> completion)
    {
        send(QByteArrayLiteral("PUT"), path, token, body.encode(), {}, decoding<Reply>(std::move(completion)));
    }

    template <typename Reply>
    void get(const QString& path, const std::optional<QString>& token, const QueryItems& queryItems,
             std::function<void(const APIResult<Reply>&)> completion)
    {
        send(QByteArrayLiteral("GET"), path, token, std::nullopt, queryItems, decoding<Reply>(std::move(completion)));
    }

    // The outcome of an exchange before decoding: an error, or the body (absent: no body at all).
    struct Outcome {
        std::optional<APIError> error;
        std::optional<QByteArray> body;
    };

private:
    APIClient() = default;

    template <typename Reply>
    static std::function<void(const Outcome&)> decoding(std::function<void(const APIResult<Reply>&)> completion)
    {
        return [completion = std::move(completion)](const Outcome& outcome) {
            if (outcome.error) {
                completion(APIResult<Reply>(*outcome.error));
                return;
            }
            if (!outcome.body) {
                completion(APIResult<Reply>(APIError{APIErrors::kDomain, -1, QStringLiteral("Empty API response."), {}}));
                return;
            }
            auto decoded = Reply::decode(*outcome.body);
            if (auto* error = std::get_if<APIError>(&decoded))
                completion(APIResult<Reply>(*error));
            else
                completion(APIResult<Reply>(std::get<Reply>(std::move(decoded))));
        };
    }

    void send(const QByteArray& method, const QString& path, const std::optional<QString>& token,
              const std::optional<EncodedBody>& body, const QueryItems& queryItems,
              std::function<void(const Outcome&)> done);

    QString m_baseText;
    QUrl m_base; // invalid when the text is not a usable https URL
};
