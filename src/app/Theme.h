#pragma once

// The window's named colours and text styles, mapped onto the Qt palette and the application
// font. The system symbols are SymbolIcons.

#include <QColor>
#include <QFont>
#include <QString>

class QAbstractScrollArea;
class QApplication;
class QFrame;
class QPushButton;
class QWidget;

namespace Theme {

// Installs the look shared by every window: the group-box and prominent-button style sheet.
// Idempotent; the window calls it too, so tests see the same look as the application.
void install();

// ---- Named colours ----------------------------------------------------------------------------
QColor accent();            // the user's accent (palette Highlight)
QColor secondary();         // secondary text: window text at reduced strength
QColor green();
QColor blue();
QColor red();
QColor controlBackground(); // sidebar and controls (palette Base)
QColor windowBackground();  // window and footer (palette Window)
QColor textBackground();    // text entry and command boxes (palette Base)
QColor withOpacity(const QColor& color, qreal opacity);
// The ring around the control that has keyboard focus; `onAccent` for one filled with the accent.
QColor focusRing(bool onAccent = false);

// ---- Text styles ------------------------------------------------------------------------------
enum class TextStyle { largeTitle, title, title2, title3, headline, body, callout, subheadline, footnote, caption };

// The style's font, scaled from the application font (body is the application font's size).
QFont font(TextStyle style);
QFont font(TextStyle style, QFont::Weight weight);
// The style's size in the monospaced design.
QFont monospacedFont(TextStyle style);
// The application font's size in pixels divided by the design's body size (13), at least 1: the factor by
// which the design's point sizes are multiplied.
qreal scale();
// A design size in points, in pixels for this screen's text.
int points(qreal designPoints);

// Sets the widget's font to the style.
void setTextStyle(QWidget* widget, TextStyle style, QFont::Weight weight = QFont::Normal);
// Sets the widget's text colour (WindowText, Text and ButtonText roles).
void setForeground(QWidget* widget, const QColor& color);
// Sets the widget's own background, painted behind its children.
void setBackground(QWidget* widget, const QColor& color);
// The rounded, lightly filled box of a group box without a title.
void makeCard(QFrame* frame);
// A ring around a scrolling area while it has the keyboard focus (it has no caret or row of its
// own to show it).
void showFocusRing(QAbstractScrollArea* area);
// The accent-filled push button ("bordered prominent").
void makeProminent(QPushButton* button);

} // namespace Theme
