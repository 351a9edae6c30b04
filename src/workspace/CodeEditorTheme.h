#pragma once

// The code editor's colours. The editor keeps the light look whatever the desktop theme.

#include <QColor>

namespace CodeEditorTheme {

// The colours the highlighter paints with, by index into a colour map (0 is the base colour).
enum class Role : unsigned char { base = 0, keyword, string, comment, tag, variable, number };
inline constexpr int roleCount = 7;

QColor background();
QColor base();
QColor keyword();
QColor string();
QColor comment();
QColor tag();
QColor variable();
QColor number();

QColor color(Role role);

} // namespace CodeEditorTheme
