#include "app/LinkButton.h"

#include "app/AccessibleButton.h"
#include "app/Theme.h"

#include <QDesktopServices>
#include <QPainter>

namespace {

// Reads as the link it is, not as a push button.
QAccessibleInterface* accessibleFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("LinkButton") && object && object->isWidgetType())
        return new AccessibleButton(static_cast<LinkButton*>(object), QAccessible::Link);
    return nullptr;
}

} // namespace

LinkButton::LinkButton(const QString& label, const QUrl& url, std::function<void(const QUrl&)> openURL,
                       QWidget* parent)
    : QAbstractButton(parent)
    , m_url(url)
{
    static const bool accessible = [] {
        QAccessible::installFactory(accessibleFactory);
        return true;
    }();
    (void)accessible;
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
