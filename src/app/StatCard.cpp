#include "app/StatCard.h"

#include "app/ElidedLabel.h"
#include "app/Theme.h"

#include <QLabel>
#include <QVBoxLayout>

StatCard::StatCard(const QString& title, const QString& value, const QColor& color, QWidget* parent)
    : QFrame(parent)
    , m_title(new QLabel(title))
    , m_value(new ElidedLabel(value, 1))
{
    Theme::makeCard(this);
    m_title->setTextFormat(Qt::PlainText);
    Theme::setForeground(m_title, Theme::secondary());
    Theme::setTextStyle(m_value, Theme::TextStyle::title2, QFont::Bold);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(8);
    layout->addWidget(m_title);
    layout->addWidget(m_value);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setValue(value, color);
}

QString StatCard::cardTitle() const { return m_title->text(); }
QString StatCard::value() const { return m_value->text(); }

void StatCard::setValue(const QString& value, const QColor& color)
{
    m_value->setText(value);
    m_color = color;
    Theme::setForeground(m_value, color);
}
