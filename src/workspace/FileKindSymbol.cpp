#include "workspace/FileKindSymbol.h"

#include <QFileInfo>

namespace FileKindSymbol {

QString forFileName(const QString& fileName)
{
    struct Kind {
        const char* extension;
        const char* symbol;
    };
    static constexpr Kind kinds[] = {
        {"php", "chevron.left.forwardslash.chevron.right"},
        {"js", "curlybraces"}, {"ts", "curlybraces"}, {"json", "curlybraces"},
        {"css", "paintbrush"}, {"scss", "paintbrush"},
        {"png", "photo"}, {"jpg", "photo"}, {"jpeg", "photo"}, {"webp", "photo"}, {"gif", "photo"},
        {"md", "doc.richtext"},
    };
    const QString extension = QFileInfo(fileName).suffix().toLower();
    for (const Kind& kind : kinds) {
        if (extension == QLatin1String(kind.extension))
            return QString::fromLatin1(kind.symbol);
    }
    return QStringLiteral("doc.text");
}

} // namespace FileKindSymbol
