#include "app/Theme.h"

#include "app/DrawnIconEngine.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QFontDatabase>
#include <QFrame>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPushButton>
#include <QWidget>

#include <cmath>
#include <map>

namespace {

constexpr qreal kBodyDesignSize = 13.0;

QPalette appPalette() { return QApplication::palette(); }

bool isDark()
{
    return appPalette().color(QPalette::Window).lightness() < 128;
}

QColor blend(const QColor& top, const QColor& bottom, qreal amount)
{
    return QColor::fromRgbF(top.redF() * amount + bottom.redF() * (1 - amount),
                            top.greenF() * amount + bottom.greenF() * (1 - amount),
                            top.blueF() * amount + bottom.blueF() * (1 - amount));
}

qreal designSize(Theme::TextStyle style)
{
    using S = Theme::TextStyle;
    switch (style) {
    case S::largeTitle: return 26;
    case S::title: return 22;
    case S::title2: return 17;
    case S::title3: return 15;
    case S::headline: return 13;
    case S::body: return 13;
    case S::callout: return 12;
    case S::subheadline: return 11;
    case S::footnote: return 10;
    case S::caption: return 10;
    }
    return kBodyDesignSize;
}

bool knowsSymbol(const QString& name)
{
    static const QStringList names = {
        QStringLiteral("square.grid.2x2"), QStringLiteral("folder"), QStringLiteral("gearshape"),
        QStringLiteral("book"), QStringLiteral("eye"), QStringLiteral("eye.slash"),
        QStringLiteral("plus"), QStringLiteral("play.fill"), QStringLiteral("stop.fill"),
        QStringLiteral("trash"), QStringLiteral("doc.text"),
    };
    return names.contains(name);
}

QColor windowText() { return appPalette().color(QPalette::WindowText); }

// Draws the symbols the views use, in outline, on a 24-unit square.
void drawSymbol(QPainter& p, const QString& name, const QColor& color)
{
    if (name == QLatin1String("square.grid.2x2")) {
        for (const QPointF origin : {QPointF(3.5, 3.5), QPointF(13.5, 3.5), QPointF(3.5, 13.5), QPointF(13.5, 13.5)})
            p.drawRoundedRect(QRectF(origin, QSizeF(7, 7)), 2, 2);
    } else if (name == QLatin1String("folder")) {
        p.drawPath(drawnFolderOutline());
        p.drawLine(QPointF(3, 11), QPointF(21, 11));
    } else if (name == QLatin1String("gearshape")) {
        QPainterPath gear;
        const QPointF c(12, 12);
        const int teeth = 8;
        for (int i = 0; i < teeth * 4; ++i) {
            const qreal angle = (i / qreal(teeth * 4)) * 2 * M_PI;
            const qreal radius = (i % 4 == 0 || i % 4 == 1) ? 9.2 : 7.0;
            const QPointF point(c.x() + radius * std::cos(angle), c.y() + radius * std::sin(angle));
            if (i == 0)
                gear.moveTo(point);
            else
                gear.lineTo(point);
        }
        gear.closeSubpath();
        p.drawPath(gear);
        p.drawEllipse(c, 3.0, 3.0);
    } else if (name == QLatin1String("book")) {
        QPainterPath left;
        left.moveTo(12, 6.5);
        left.quadTo(8, 4, 3, 4.5);
        left.lineTo(3, 18.5);
        left.quadTo(8, 18, 12, 20);
        QPainterPath right;
        right.moveTo(12, 6.5);
        right.quadTo(16, 4, 21, 4.5);
        right.lineTo(21, 18.5);
        right.quadTo(16, 18, 12, 20);
        p.drawPath(left);
        p.drawPath(right);
        p.drawLine(QPointF(12, 6.5), QPointF(12, 20));
    } else if (name == QLatin1String("eye") || name == QLatin1String("eye.slash")) {
        QPainterPath eye;
        eye.moveTo(2.5, 12);
        eye.quadTo(12, 2, 21.5, 12);
        eye.quadTo(12, 22, 2.5, 12);
        p.drawPath(eye);
        p.drawEllipse(QPointF(12, 12), 3.2, 3.2);
        if (name == QLatin1String("eye.slash"))
            p.drawLine(QPointF(4, 3.5), QPointF(20, 20.5));
    } else if (name == QLatin1String("plus")) {
        p.drawLine(QPointF(12, 4), QPointF(12, 20));
        p.drawLine(QPointF(4, 12), QPointF(20, 12));
    } else if (name == QLatin1String("play.fill")) {
        p.setBrush(color);
        p.drawPolygon(QPolygonF({QPointF(7, 4.5), QPointF(19.5, 12), QPointF(7, 19.5)}));
    } else if (name == QLatin1String("stop.fill")) {
        p.setBrush(color);
        p.drawRoundedRect(QRectF(5.5, 5.5, 13, 13), 2, 2);
    } else if (name == QLatin1String("trash")) {
        p.drawLine(QPointF(4, 6.5), QPointF(20, 6.5));
        p.drawRect(QRectF(9.5, 3.5, 5, 3));
        QPainterPath can;
        can.moveTo(6, 6.5);
        can.lineTo(7, 20);
        can.lineTo(17, 20);
        can.lineTo(18, 6.5);
        p.drawPath(can);
        p.drawLine(QPointF(10, 10), QPointF(10, 17));
        p.drawLine(QPointF(14, 10), QPointF(14, 17));
    } else if (name == QLatin1String("doc.text")) {
        QPainterPath doc;
        doc.moveTo(5, 3);
        doc.lineTo(14, 3);
        doc.lineTo(19, 8);
        doc.lineTo(19, 21);
        doc.lineTo(5, 21);
        doc.closeSubpath();
        p.drawPath(doc);
        p.drawLine(QPointF(8, 12), QPointF(16, 12));
        p.drawLine(QPointF(8, 15.5), QPointF(16, 15.5));
    }
}

} // namespace

namespace Theme {

void install()
{
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app || app->property("kovaniThemeInstalled").toBool())
        return;
    app->setProperty("kovaniThemeInstalled", true);
    const QColor box = isDark() ? QColor(255, 255, 255, 14) : QColor(0, 0, 0, 10);
    const QColor border = isDark() ? QColor(255, 255, 255, 30) : QColor(0, 0, 0, 28);
    const QColor buttonBorder = isDark() ? QColor(255, 255, 255, 50) : QColor(0, 0, 0, 55);
    const QColor accentColor = accent();
    const QColor accentText = accentColor.lightness() > 160 ? QColor(Qt::black) : QColor(Qt::white);
    const QString sheet = QStringLiteral(
        "QGroupBox { background: %1; border: 1px solid %2; border-radius: 8px; margin-top: %5px; }"
        "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 4px;"
        " padding: 0 2px 4px 2px; }"
        "QFrame[card=\"true\"] { background: %1; border: 1px solid %2; border-radius: 8px; }"
        "QPushButton { background: %8; border: 1px solid %9; border-radius: 6px; padding: 4px 12px;"
        " min-height: 16px; }"
        "QPushButton:hover { border-color: %10; }"
        "QPushButton:pressed { background: %11; }"
        "QPushButton:disabled { color: %12; }"
        "QPushButton:focus { border: 2px solid %13; padding: 3px 11px; }"
        "QPushButton[prominent=\"true\"] { background: %3; color: %4; border: 1px solid %3; }"
        "QPushButton[prominent=\"true\"]:pressed { background: %6; }"
        "QPushButton[prominent=\"true\"]:disabled { background: %7; border-color: %7; }"
        "QPushButton[prominent=\"true\"]:focus { border: 2px solid %14; padding: 3px 11px; }"
        "QAbstractScrollArea[focusRing=\"true\"] { border: 2px solid transparent; border-radius: 6px; }"
        "QAbstractScrollArea[focusRing=\"true\"]:focus { border-color: %13; }")
        .arg(box.name(QColor::HexArgb), border.name(QColor::HexArgb), accentColor.name(), accentText.name())
        .arg(QFontMetrics(app->font()).height() + 6)
        .arg(accentColor.darker(115).name(), withOpacity(accentColor, 0.45).name(QColor::HexArgb))
        .arg(controlBackground().name(), buttonBorder.name(QColor::HexArgb),
             withOpacity(accentColor, 0.6).name(QColor::HexArgb), windowBackground().darker(108).name(),
             secondary().name())
        .arg(focusRing(false).name(), focusRing(true).name());
    app->setStyleSheet(app->styleSheet() + sheet);
}

QColor accent() { return appPalette().color(QPalette::Highlight); }

QColor focusRing(bool onAccent)
{
    return onAccent ? accent().darker(175) : accent();
}

QColor secondary()
{
    const QPalette palette = appPalette();
    return blend(palette.color(QPalette::WindowText), palette.color(QPalette::Window), 0.62);
}

QColor green() { return isDark() ? QColor(48, 209, 88) : QColor(36, 138, 61); }
QColor blue() { return isDark() ? QColor(10, 132, 255) : QColor(0, 106, 220); }
QColor red() { return isDark() ? QColor(255, 69, 58) : QColor(215, 0, 21); }
QColor controlBackground() { return appPalette().color(QPalette::Base); }
QColor windowBackground() { return appPalette().color(QPalette::Window); }
QColor textBackground() { return appPalette().color(QPalette::Base); }

QColor withOpacity(const QColor& color, qreal opacity)
{
    QColor result = color;
    result.setAlphaF(color.alphaF() * opacity);
    return result;
}

qreal scale()
{
    const QFont base = QApplication::font();
    qreal pixels = base.pixelSize();
    if (pixels <= 0)
        pixels = base.pointSizeF() * 96.0 / 72.0;
    // Never below the design's sizes: a smaller desktop font would make captions unreadable.
    return pixels > 0 ? std::max(1.0, pixels / kBodyDesignSize) : 1.0;
}

int points(qreal designPoints) { return qRound(designPoints * scale()); }

QFont font(TextStyle style) { return font(style, style == TextStyle::headline ? QFont::DemiBold : QFont::Normal); }

QFont font(TextStyle style, QFont::Weight weight)
{
    QFont result = QApplication::font();
    result.setPixelSize(std::max(9, points(designSize(style))));
    result.setWeight(weight);
    return result;
}

QFont monospacedFont(TextStyle style)
{
    QFont result = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    result.setPixelSize(std::max(9, points(designSize(style))));
    return result;
}

void setTextStyle(QWidget* widget, TextStyle style, QFont::Weight weight)
{
    widget->setFont(weight == QFont::Normal ? font(style) : font(style, weight));
}

void setForeground(QWidget* widget, const QColor& color)
{
    QPalette palette = widget->palette();
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(role, color);
    widget->setPalette(palette);
}

void setBackground(QWidget* widget, const QColor& color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, color);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

void makeCard(QFrame* frame)
{
    frame->setProperty("card", true);
}

void showFocusRing(QAbstractScrollArea* area)
{
    area->setProperty("focusRing", true);
}

void makeProminent(QPushButton* button)
{
    button->setProperty("prominent", true);
    button->setDefault(false);
}

QStringList themeNames(const QString& name)
{
    static const std::map<QString, QStringList> names = {
        {QStringLiteral("square.grid.2x2"), {QStringLiteral("view-grid-symbolic"), QStringLiteral("view-app-grid-symbolic")}},
        {QStringLiteral("folder"), {QStringLiteral("folder-symbolic")}},
        {QStringLiteral("gearshape"), {QStringLiteral("emblem-system-symbolic"), QStringLiteral("preferences-system-symbolic")}},
        {QStringLiteral("book"), {QStringLiteral("accessories-dictionary-symbolic"), QStringLiteral("help-contents-symbolic")}},
        {QStringLiteral("eye"), {QStringLiteral("view-reveal-symbolic"), QStringLiteral("view-visible-symbolic")}},
        {QStringLiteral("eye.slash"), {QStringLiteral("view-conceal-symbolic"), QStringLiteral("view-hidden-symbolic")}},
        {QStringLiteral("plus"), {QStringLiteral("list-add-symbolic")}},
        {QStringLiteral("play.fill"), {QStringLiteral("media-playback-start-symbolic")}},
        {QStringLiteral("stop.fill"), {QStringLiteral("media-playback-stop-symbolic")}},
        {QStringLiteral("trash"), {QStringLiteral("user-trash-symbolic"), QStringLiteral("edit-delete-symbolic")}},
        {QStringLiteral("doc.text"), {QStringLiteral("text-x-generic-symbolic")}},
    };
    const auto it = names.find(name);
    return it == names.end() ? QStringList() : it->second;
}

QIcon drawnSymbol(const QString& name, const QColor& color)
{
    if (!knowsSymbol(name))
        return QIcon();
    const auto draw = [name](QPainter& p, const QColor& c) { drawSymbol(p, name, c); };
    return QIcon(new DrawnIconEngine(draw, color, windowText));
}

QIcon symbol(const QString& name, const QColor& color)
{
    // A themed icon is used only without an explicit colour: it carries its own.
    if (!color.isValid()) {
        for (const QString& themeName : themeNames(name)) {
            if (QIcon::hasThemeIcon(themeName))
                return QIcon::fromTheme(themeName);
        }
    }
    return drawnSymbol(name, color);
}

} // namespace Theme
