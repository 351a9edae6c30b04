#include "platform/WebAuthenticationSession.h"

#include "platform/UrlSchemeHandler.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QList<QPointer<WebAuthenticationSession>>& pendingSessions()
{
    static QList<QPointer<WebAuthenticationSession>> sessions;
    return sessions;
}

QString& handlerExecutablePath()
{
    static QString path;
    return path;
}

} // namespace

WebAuthenticationSession::WebAuthenticationSession(QUrl url, QString callbackURLScheme, Completion completion,
                                                   QObject* parent)
    : QObject(parent), m_url(std::move(url)), m_scheme(std::move(callbackURLScheme)), m_completion(std::move(completion))
{
}

WebAuthenticationSession::~WebAuthenticationSession()
{
    pendingSessions().removeAll(this);
    if (m_panel)
        m_panel->deleteLater();
}

void WebAuthenticationSession::setPresentationAnchor(QWidget* window) { m_anchor = window; }

void WebAuthenticationSession::setHandlerExecutable(const QString& path) { handlerExecutablePath() = path; }

QString WebAuthenticationSession::handlerExecutable()
{
    return handlerExecutablePath().isEmpty() ? QCoreApplication::applicationFilePath() : handlerExecutablePath();
}

std::optional<QString> WebAuthenticationSession::openInBrowser(const QUrl& url, UrlOpener::Failed failed)
{
    const QString browser = qEnvironmentVariable("KOVANI_BROWSER");
    if (browser.isEmpty())
        return UrlOpener::open(url, std::move(failed));
    return UrlOpener::openWith(browser, url, std::move(failed));
}

QString WebAuthenticationSession::browserFailureText(const QUrl& url, const QString& reason)
{
    const QString host = url.host();
    return QStringLiteral("Could not open the sign-in page of %1 in the browser: %2.")
        .arg(host.isEmpty() ? url.toDisplayString(QUrl::RemoveQuery | QUrl::RemoveFragment) : host, reason);
}

bool WebAuthenticationSession::start()
{
    if (m_state != State::Idle) {
        m_startFailure = QStringLiteral("The sign-in in the browser has already been started.");
        return false;
    }
    if (!m_anchor) {
        m_startFailure = QStringLiteral("There is no Kovani window to show the sign-in over.");
        return false;
    }
    if (!UrlSchemeHandler::isValidScheme(m_scheme)) {
        m_startFailure = QStringLiteral("The sign-in's return address has no valid scheme (\"%1\").").arg(m_scheme);
        return false;
    }
    QString error;
    if (!UrlSchemeHandler::registerScheme(m_scheme, handlerExecutable(), &error)) {
        m_startFailure = QStringLiteral("Kovani could not be set up to receive the sign-in's return address (%1:): %2")
                             .arg(m_scheme, error);
        qWarning().noquote() << m_startFailure;
        return false;
    }
    // Pending before the browser opens: a fast browser may hand the redirect back at once.
    m_state = State::Pending;
    pendingSessions().append(this);
    QPointer<WebAuthenticationSession> self(this);
    const QUrl url = m_url;
    const std::optional<QString> notStarted = openInBrowser(m_url, [self, url](const QString& reason) {
        if (self && self->isPending())
            self->complete(std::nullopt, DomainError(ErrorDomain, BrowserNotOpened, browserFailureText(url, reason)));
    });
    if (notStarted) {
        pendingSessions().removeAll(this);
        m_state = State::Idle;
        m_startFailure = browserFailureText(m_url, *notStarted);
        return false;
    }
    m_startFailure.clear();
    showPanel();
    return true;
}

void WebAuthenticationSession::showPanel()
{
    auto* panel = new QDialog(m_anchor);
    panel->setObjectName(QStringLiteral("webAuthenticationPanel"));
    panel->setWindowTitle(QStringLiteral("Continue in your browser"));
    panel->setWindowModality(Qt::WindowModal);
    panel->setAttribute(Qt::WA_DeleteOnClose);

    auto* title = new QLabel(QStringLiteral("Continue in your browser"), panel);
    title->setTextFormat(Qt::PlainText);
    QFont font = title->font();
    font.setBold(true);
    font.setPixelSize(15);
    title->setFont(font);
    const QString host = m_url.host();
    auto* text = new QLabel(QStringLiteral("Sign in on %1 in the browser window that opened. Kovani continues when you "
                                           "are done.")
                                .arg(host.isEmpty() ? QStringLiteral("the provider's page") : host),
                            panel);
    text->setObjectName(QStringLiteral("webAuthenticationHost"));
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), panel);
    cancel->setAccessibleName(QStringLiteral("Cancel"));
    cancel->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(panel);
    layout->addWidget(title);
    layout->addWidget(text);
    layout->addLayout(buttons);
    panel->setMinimumWidth(380);

    connect(cancel, &QPushButton::clicked, panel, &QDialog::reject);
    // Cancel, Escape and closing the panel all end the session as cancelled; so does the
    // panel's going with its window, which would otherwise leave the flow pending unseen.
    connect(panel, &QDialog::finished, this, &WebAuthenticationSession::cancel);
    connect(panel, &QObject::destroyed, this, [this]() {
        m_panel.clear();
        this->cancel();
    });
    m_panel = panel;
    panel->open();
}

void WebAuthenticationSession::cancel()
{
    if (m_state != State::Pending)
        return;
    complete(std::nullopt, DomainError(ErrorDomain, CanceledLogin, QStringLiteral("The user canceled the sign-in.")));
}

void WebAuthenticationSession::complete(const std::optional<QUrl>& url, const std::optional<DomainError>& error)
{
    m_state = State::Done;
    pendingSessions().removeAll(this);
    if (QDialog* panel = m_panel.data()) {
        m_panel.clear();
        panel->disconnect(this);
        panel->close();
    }
    Completion completion = std::move(m_completion);
    m_completion = nullptr;
    if (completion)
        completion(url, error);
}

bool WebAuthenticationSession::deliverRedirect(const QUrl& url)
{
    if (!url.isValid() || url.scheme().isEmpty())
        return false;
    for (const QPointer<WebAuthenticationSession>& session : pendingSessions()) {
        if (session && session->isPending() && session->m_scheme.compare(url.scheme(), Qt::CaseInsensitive) == 0) {
            QPointer<WebAuthenticationSession> target = session;
            target->complete(url, std::nullopt);
            return true;
        }
    }
    return false;
}
