#include "services/ProjectIds.h"

#include "platform/Graphemes.h"

#include <QCryptographicHash>
#include <QFile>

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

QString fileStem(const QString& id)
{
    // NAME_MAX bytes, less the longest ending ("-router.php") and the suffix that replacing the
    // router script gives its temporary name (QSaveFile: ".XXXXXX").
    constexpr qsizetype kNameMax = 255;
    constexpr qsizetype kLongestEnding = sizeof("-router.php") - 1;
    constexpr qsizetype kTemporarySuffix = sizeof(".XXXXXX") - 1;
    constexpr qsizetype kLimit = kNameMax - kLongestEnding - kTemporarySuffix;
    if (QFile::encodeName(id).size() <= kLimit)
        return id;
    const QString digest = QString::fromLatin1(
        QCryptographicHash::hash(id.toUtf8(), QCryptographicHash::Sha256).toHex().left(16));
    const qsizetype room = kLimit - 1 - digest.size();
    // Whole user-perceived characters only.
    qsizetype end = 0;
    for (const qsizetype next : Graphemes::boundaries(id)) {
        if (QFile::encodeName(id.left(next)).size() > room)
            break;
        end = next;
    }
    return id.left(end) + u'-' + digest;
}

} // namespace ProjectIds
