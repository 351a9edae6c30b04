#include "app/Theme.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QFontDatabase>
#include <QFrame>
#include <QPalette>
#include <QPushButton>
#include <QWidget>

#include <algorithm>

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

} // namespace Theme
