#include "app/NoticeBar.h"

#include "app/AppModel.h"
#include "app/ElidedLabel.h"
#include "app/Theme.h"
#include "platform/Text.h"

#include <QHBoxLayout>
#include <QPushButton>

NoticeBar::NoticeBar(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_text(new ElidedLabel(QString(), 2))
    , m_openFolder(new QPushButton(QStringLiteral("Open Folder")))
    , m_dismiss(new QPushButton(QStringLiteral("Dismiss")))
{
    m_text->setAccessibleRole(QAccessible::AlertMessage);
    QSizePolicy policy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    m_text->setSizePolicy(policy);
    Theme::setForeground(m_text, Theme::red());
    m_openFolder->setAutoDefault(false);
    m_dismiss->setAutoDefault(false);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_text, 1, Qt::AlignVCenter);
    layout->addSpacing(12);
    layout->addWidget(m_openFolder, 0, Qt::AlignVCenter);
    layout->addWidget(m_dismiss, 0, Qt::AlignVCenter);

    // One model operation per button.
    connect(m_openFolder, &QPushButton::clicked, &m_model, &AppModel::openNoticeFolder);
    connect(m_dismiss, &QPushButton::clicked, &m_model, &AppModel::dismissNotice);
    connect(&m_model, &AppModel::noticeChanged, this, &NoticeBar::refresh);
    refresh();
}

void NoticeBar::refresh()
{
    const std::optional<Notice>& notice = m_model.notice();
    setVisible(notice.has_value());
    if (!notice) {
        m_text->setText(QString());
        return;
    }
    m_text->setText(Text::displayable(notice->text));
    // Each button says what it acts on.
    m_openFolder->setAccessibleName(QStringLiteral("Open folder ") + notice->folder);
    m_openFolder->setToolTip(notice->folder);
    m_dismiss->setAccessibleName(QStringLiteral("Dismiss notice: ") + notice->text);
}
