#pragma once

#include <QString>

namespace MySQLText {

// `value` escaped for the inside of a single-quoted MySQL/MariaDB string: every backslash
// doubled first, then every quote doubled.
QString escapeString(const QString& value);

// `name` escaped for the inside of a backquoted identifier: every backquote doubled.
QString escapeIdentifier(const QString& name);

} // namespace MySQLText
