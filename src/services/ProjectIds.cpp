#include "services/ProjectIds.h"

namespace ProjectIds {

bool isSafe(const QString& id)
{
    return !id.isEmpty() && !id.contains(u'/') && !id.contains(QStringLiteral("..")) && !id.startsWith(u'.')
        && !id.contains(QChar(u'\0'));
}

QString refusal(const QString& id)
{
    return QStringLiteral("Invalid project id \u201C%1\u201D: an id must not be empty, contain \"/\" or \"..\", or start with \".\".")
        .arg(id);
}

} // namespace ProjectIds
