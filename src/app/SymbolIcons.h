#pragma once

#include <QColor>
#include <QIcon>
#include <QString>
#include <QStringList>

// Icons for the system symbol names the views use ("folder", "gearshape", "eye.slash",
// "doc.badge.plus", "chevron.left.forwardslash.chevron.right", ...). Each name has a drawing of
// its own, so the look is the same on every desktop; without a colour, a matching freedesktop
// icon of the current theme is used where there is one.
namespace SymbolIcons {

// The symbol in `color` (drawn), or uncoloured (themed icon when the theme has one, else drawn
// in the window text colour). Null for an unknown name.
QIcon icon(const QString& name, const QColor& color = QColor());
// Always the drawing; null for an unknown name.
QIcon drawn(const QString& name, const QColor& color = QColor());
// The freedesktop icon names tried for `name`.
QStringList themeNames(const QString& name);

} // namespace SymbolIcons
