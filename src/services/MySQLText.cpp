#include "services/MySQLText.h"

namespace MySQLText {

QString escapeString(const QString& value)
{
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('\''), QStringLiteral("''"));
    return escaped;
}

QString escapeIdentifier(const QString& name)
{
    QString escaped = name;
    escaped.replace(QLatin1Char('`'), QStringLiteral("``"));
    return escaped;
}

} // namespace MySQLText
