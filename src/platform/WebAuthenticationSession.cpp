#include "platform/WebAuthenticationSession.h"

#include "platform/UrlSchemeHandler.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QProcess>
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

bool WebAuthenticationSession::openInBrowser(const QUrl& url)
{
    const QString browser = qEnvironmentVariable("KOVANI_BROWSER");
    if (browser.isEmpty())
        return QDesktopServices::openUrl(url);
    QProcess process;
    process.setProgram(browser);
    process.setArguments({url.toString(QUrl::FullyEncoded)});
    process.setStandardInputFile(QProcess::nullDevice());
    return process.startDetached();
}

bool WebAuthenticationSession::start()
{
    if (m_state != State::Idle || !m_anchor || !UrlSchemeHandler::isValidScheme(m_scheme))
        return false;
    QString error;
    if (!UrlSchemeHandler::registerScheme(m_scheme, handlerExecutable(), &error)) {
        qWarning().noquote() << QStringLiteral("Could not register the %1 URL handler: %2").arg(m_scheme, error);
        return false;
    }
    // Pending before the browser opens: a fast browser may hand the redirect back at once.
    m_state = State::Pending;
    pendingSessions().append(this);
    if (!openInBrowser(m_url)) {
        pendingSessions().removeAll(this);
        m_state = State::Idle;
        return false;
    }
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
