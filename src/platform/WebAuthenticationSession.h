#pragma once

#include "platform/DomainError.h"
#include "platform/UrlOpener.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

#include <QDialog>
class QWidget;

// The desktop's web-authentication session: the provider's page opens in the user's default
// browser (or, when KOVANI_BROWSER is set, that program is run with the URL as its one argument),
// a window-modal panel over the application's window waits with a Cancel button, and the
// redirect comes back through the desktop: the application is the handler of the callback URL
// scheme, and a second launch forwards the URL to this instance, which hands it here
// (deliverRedirect). The completion runs once, on the main thread, with the redirect URL or an
// error (ErrorDomain, CanceledLogin when the user cancels or closes the panel, or cancel() is
// called; BrowserNotOpened, with the reason, when the browser fails to open the page).
class WebAuthenticationSession : public QObject {
    Q_OBJECT

public:
    using Completion = std::function<void(const std::optional<QUrl>& callbackURL, const std::optional<DomainError>& error)>;

    static inline const QString ErrorDomain = QStringLiteral("Kovani.WebAuthenticationSession");
    enum ErrorCode { CanceledLogin = 1, BrowserNotOpened = 2 };

    WebAuthenticationSession(QUrl url, QString callbackURLScheme, Completion completion, QObject* parent = nullptr);
    ~WebAuthenticationSession() override;

    // The window the panel is shown over; start() refuses without one.
    void setPresentationAnchor(QWidget* window);
    QWidget* presentationAnchor() const { return m_anchor.data(); }
    // Kept for the caller; a desktop browser has no private session to ask for.
    void setPrefersEphemeralWebBrowserSession(bool prefers) { m_prefersEphemeral = prefers; }
    bool prefersEphemeralWebBrowserSession() const { return m_prefersEphemeral; }

    // Registers the scheme handler, opens the browser and shows the panel. False, with nothing
    // shown and startFailure() telling why, when already started, without an anchor or a valid
    // scheme, or when the handler cannot be registered or the browser not started.
    bool start();
    QString startFailure() const { return m_startFailure; }
    // Completes with CanceledLogin while pending; nothing otherwise.
    void cancel();

    bool isPending() const { return m_state == State::Pending; }
    QDialog* panel() const { return m_panel.data(); }

    // Hands a forwarded redirect to the pending session whose callback scheme matches (letter
    // case ignored). False when none takes it; a URL is never handed to more than one session.
    static bool deliverRedirect(const QUrl& url);

    // The program the desktop entry runs (the running executable unless set).
    static void setHandlerExecutable(const QString& path);
    static QString handlerExecutable();

    // Opens a URL in the user's browser: KOVANI_BROWSER when set, else the desktop's default.
    // Returns why the browser could not be started; `failed` gets why it failed later.
    static std::optional<QString> openInBrowser(const QUrl& url, UrlOpener::Failed failed);
    // "Could not open the sign-in page of <host> in the browser: <reason>"
    static QString browserFailureText(const QUrl& url, const QString& reason);

private:
    enum class State { Idle, Pending, Done };
    void complete(const std::optional<QUrl>& url, const std::optional<DomainError>& error);
    void showPanel();

    QUrl m_url;
    QString m_scheme;
    Completion m_completion;
    QPointer<QWidget> m_anchor;
    bool m_prefersEphemeral = false;
    State m_state = State::Idle;
    QPointer<QDialog> m_panel;
    QString m_startFailure;
};
