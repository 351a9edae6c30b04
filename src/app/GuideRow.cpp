#include "app/GuideRow.h"

#include "app/Theme.h"

#include <QHBoxLayout>
#include <QLabel>

GuideRow::GuideRow(const QString& number, const QString& text, QWidget* parent)
    : QWidget(parent)
    , m_badge(new QLabel(number))
    , m_text(new QLabel(text))
{
    m_badge->setTextFormat(Qt::PlainText);
    m_badge->setAlignment(Qt::AlignCenter);
    m_badge->setFixedSize(22, 22);
    Theme::setTextStyle(m_badge, Theme::TextStyle::caption, QFont::Bold);
    m_badge->setStyleSheet(QStringLiteral("QLabel { background: %1; border-radius: 11px; }")
                               .arg(Theme::withOpacity(Theme::accent(), 0.14).name(QColor::HexArgb)));

    m_text->setTextFormat(Qt::PlainText);
    m_text->setWordWrap(true);
    m_text->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    Theme::setTextStyle(m_text, Theme::TextStyle::body);
    // The first line sits level with the badge's centre.
    m_text->setContentsMargins(0, std::max(0, (22 - m_text->fontMetrics().height()) / 2), 0, 0);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addWidget(m_badge, 0, Qt::AlignTop);
    layout->addWidget(m_text, 1, Qt::AlignTop);
}

QString GuideRow::number() const { return m_badge->text(); }
QString GuideRow::text() const { return m_text->text(); }
