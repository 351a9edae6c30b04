#include "services/LogTail.h"

#include <QFile>

namespace LogTail {

QString omittedNotice()
{
    return QStringLiteral("[Earlier output left out: only the last 1 MiB of the log is shown.]");
}

std::optional<QString> read(const QString& path, qint64 limit)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const qint64 size = file.size();
    if (size <= limit || limit <= 0) {
        const QByteArray bytes = file.readAll();
        if (bytes.isEmpty() && file.error() != QFileDevice::NoError)
            return std::nullopt;
        return QString::fromUtf8(bytes);
    }
    // One byte more than the limit: when that byte ends a line, the cut is already at a line start.
    if (!file.seek(size - limit - 1))
        return std::nullopt;
    const QByteArray tail = file.read(limit + 1);
    if (tail.isEmpty())
        return std::nullopt;
    // Start after the first line break: the partial line before it belongs to the part left out.
    qsizetype start = tail.indexOf('\n');
    if (start >= 0) {
        ++start;
    } else {
        // One line longer than the limit: start at a whole character.
        start = 1;
        while (start < tail.size() && (static_cast<unsigned char>(tail[start]) & 0xC0) == 0x80)
            ++start;
    }
    return omittedNotice() + u'\n' + QString::fromUtf8(tail.constData() + start, tail.size() - start);
}

} // namespace LogTail
