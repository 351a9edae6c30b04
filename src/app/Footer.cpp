#include "app/Footer.h"

#include "app/AppModel.h"
#include "app/ElidedLabel.h"
#include "app/LinkButton.h"
#include "app/Maker.h"
#include "app/NoticeBar.h"
#include "app/Theme.h"
#include "platform/Text.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

Footer::Footer(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_status(new ElidedLabel(Text::displayable(model.statusMessage()), 2))
    , m_link(new LinkButton(Maker::webAddress(), QUrl(Maker::webAddress(), QUrl::StrictMode),
                            [&model](const QUrl& url) { model.openURL(url); }))
{
    Theme::setBackground(this, Theme::windowBackground());
    Theme::setForeground(m_status, Theme::secondary());
    // Each new message reaches assistive technology as the status bar's new name, the focus staying.
    m_status->setAccessibleRole(QAccessible::StatusBar);
    QSizePolicy policy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    m_status->setSizePolicy(policy);

    // The model's notice, when there is one, over the whole width; the status row under it.
    auto* strip = new QVBoxLayout(this);
    strip->setContentsMargins(14, 14, 14, 14);
    strip->setSpacing(10);
    m_modelNotice = new NoticeBar(model, this);
    strip->addWidget(m_modelNotice);
    auto* layout = new QHBoxLayout;
    layout->setContentsMargins(0, 0, 0, 0);
    strip->addLayout(layout);
    if (const QString& notice = model.platform().launchNotice; !notice.isEmpty()) {
        m_notice = new ElidedLabel(Text::displayable(notice), 2);
        m_notice->setSizePolicy(policy);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(4);
        texts->addWidget(m_notice);
        texts->addWidget(m_status);
        layout->addLayout(texts, 1);
    } else {
        layout->addWidget(m_status, 1, Qt::AlignVCenter);
    }
    layout->addSpacing(12);
    layout->addWidget(m_link, 0, Qt::AlignVCenter);

    // The tooltip holds the whole message when the line is cut.
    auto showStatus = [this]() {
        m_status->setWholeText(Text::displayable(m_model.wholeStatusMessage()));
        m_status->setText(Text::displayable(m_model.statusMessage()));
    };
    showStatus();
    connect(&m_model, &AppModel::statusMessageChanged, this, showStatus);
}
