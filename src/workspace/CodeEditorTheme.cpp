#include "workspace/CodeEditorTheme.h"

namespace CodeEditorTheme {

namespace {
QColor rgb(qreal r, qreal g, qreal b) { return QColor::fromRgbF(float(r), float(g), float(b), 1.0f); }
} // namespace

// The light text background.
QColor background() { static const QColor c = rgb(1.0, 1.0, 1.0); return c; }
QColor base() { static const QColor c = rgb(0.08, 0.08, 0.08); return c; }
QColor keyword() { static const QColor c = rgb(0.55, 0.2, 0.75); return c; }
QColor string() { static const QColor c = rgb(0.78, 0.2, 0.16); return c; }
QColor comment() { static const QColor c = rgb(0.18, 0.5, 0.22); return c; }
QColor tag() { static const QColor c = rgb(0.05, 0.34, 0.78); return c; }
QColor variable() { static const QColor c = rgb(0.0, 0.45, 0.55); return c; }
QColor number() { static const QColor c = rgb(0.78, 0.38, 0.0); return c; }

QColor color(Role role)
{
    switch (role) {
    case Role::base: return base();
    case Role::keyword: return keyword();
    case Role::string: return string();
    case Role::comment: return comment();
    case Role::tag: return tag();
    case Role::variable: return variable();
    case Role::number: return number();
    }
    return base();
}

} // namespace CodeEditorTheme
