#include "app/LinkButton.h"

#include "app/Theme.h"

#include <QDesktopServices>
#include <QPainter>

LinkButton::LinkButton(const QString& label, const QUrl& url, std::function<void(const QUrl&)> openURL,
                       QWidget* parent)
    : QAbstractButton(parent)
    , m_url(url)
{
    setText(label);
    setCursor(Qt::PointingHandCursor);
    setToolTip(url.toString());
    setAttribute(Qt::WA_Hover);
    if (!openURL)
        openURL = [](const QUrl& address) { QDesktopServices::openUrl(address); };
    connect(this, &QAbstractButton::clicked, this, [this, openURL = std::move(openURL)]() { openURL(m_url); });
}

QSize LinkButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    return QSize(metrics.horizontalAdvance(text()) + 2, metrics.height());
}

void LinkButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QFont linkFont = font();
    linkFont.setUnderline(underMouse() || hasFocus());
    painter.setFont(linkFont);
    painter.setPen(isDown() ? Theme::accent().darker(130) : Theme::accent());
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     QFontMetrics(linkFont).elidedText(text(), Qt::ElideRight, width()));
}
