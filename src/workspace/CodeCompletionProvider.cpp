#include "workspace/CodeCompletionProvider.h"

namespace CodeCompletionProvider {

const QStringList& bladeDirectives()
{
    static const QStringList list = QStringLiteral(
        "auth can cannot component csrf else elseif empty endauth endcan endcannot endcomponent endempty endfor "
        "endforeach endforelse endif endisset endphp endsection endswitch endunless endwhile extends for foreach "
        "forelse guest if include isset json method once php props section show slot switch unless vite while yield")
                                        .split(u' ');
    return list;
}

const QStringList& htmlTags()
{
    static const QStringList list = QStringLiteral(
        "a abbr address article aside audio b blockquote body br button canvas caption code col datalist dd details "
        "dialog div dl dt em fieldset figcaption figure footer form h1 h2 h3 h4 h5 h6 head header hr html i iframe "
        "img input label legend li link main meta nav ol option p picture pre script section select small source "
        "span strong style summary table tbody td textarea tfoot th thead time title tr ul video")
                                        .split(u' ');
    return list;
}

const QStringList& htmlAttributes()
{
    static const QStringList list = QStringLiteral(
        "accept action alt aria-label aria-describedby autocomplete autofocus checked class content data- disabled "
        "for height href id lang loading max maxlength method min minlength multiple name pattern placeholder "
        "readonly rel required role rows selected src step style tabindex target title type value width")
                                        .split(u' ');
    return list;
}

bool supportsHTML(const QString& fileName)
{
    const QString name = fileName.toLower();
    for (const char* suffix : {".html", ".htm", ".php", ".blade.php", ".vue"}) {
        if (name.endsWith(QLatin1String(suffix)))
            return true;
    }
    return false;
}

bool isWhitespace(QChar c)
{
    const char16_t u = c.unicode();
    if ((u >= 0x09 && u <= 0x0D) || u == 0x85)
        return true;
    switch (c.category()) {
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

namespace {
bool hasWhitespace(QStringView text)
{
    for (QChar c : text) {
        if (isWhitespace(c))
            return true;
    }
    return false;
}
} // namespace

QStringList suggestions(const QString& fileName, const QString& prefix, const QString& partialWord)
{
    return suggestions(fileName, QStringView(prefix), partialWord);
}

// Lower-casing changes no "@", "<", ">" or whitespace, nor adds any, and keeps their order: the
// prefix is read as it is, backwards from the caret.
QStringList suggestions(const QString& fileName, QStringView prefix, const QString& partialWord)
{
    if (!supportsHTML(fileName))
        return {};
    const QString name = fileName.toLower();

    if (name.endsWith(QLatin1String(".blade.php"))) {
        // The last "@" with no whitespace after it.
        for (qsizetype i = prefix.size() - 1; i >= 0; --i) {
            const QChar c = prefix.at(i);
            if (c == u'@')
                return filtered(bladeDirectives(), partialWord);
            if (isWhitespace(c))
                break;
        }
    }

    // The last "<" or ">", whichever comes later.
    qsizetype open = -1;
    for (qsizetype i = prefix.size() - 1; i >= 0; --i) {
        const QChar c = prefix.at(i);
        if (c == u'>')
            return {};
        if (c == u'<') {
            open = i;
            break;
        }
    }
    if (open < 0)
        return {};
    if (!hasWhitespace(prefix.mid(open)))
        return filtered(htmlTags(), partialWord);
    return filtered(htmlAttributes(), partialWord);
}

QStringList filtered(const QStringList& list, const QString& partial)
{
    if (partial.isEmpty())
        return list;
    QStringList starting;
    QStringList containing;
    for (const QString& entry : list) {
        if (entry.startsWith(partial))
            starting << entry;
        else if (entry.contains(partial))
            containing << entry;
    }
    return starting + containing;
}

} // namespace CodeCompletionProvider
