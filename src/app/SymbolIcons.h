#pragma once

#include <QColor>
#include <QIcon>
#include <QString>
#include <QStringList>

// Icons for the system symbol names the code workspace uses ("doc.badge.plus", "folder.fill",
// "chevron.left.forwardslash.chevron.right", ...). Each name has a drawing of its own, so the
// look is the same on every desktop; without a colour, a matching freedesktop icon of the
// current theme is used where there is one. Names the shared theme already draws ("folder",
// "trash", "doc.text") come from it.
namespace SymbolIcons {

// The symbol in `color` (drawn), or uncoloured (themed icon when the theme has one, else drawn
// in the window text colour). Null for an unknown name.
QIcon icon(const QString& name, const QColor& color = QColor());
// Always the drawing.
QIcon drawn(const QString& name, const QColor& color = QColor());
// The freedesktop icon names tried for `name`.
QStringList themeNames(const QString& name);
// Every name in the table.
QStringList names();

} // namespace SymbolIcons
