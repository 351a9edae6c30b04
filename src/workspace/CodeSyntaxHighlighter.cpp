#include "workspace/CodeSyntaxHighlighter.h"

#include <QHash>
#include <future>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

using CodeEditorTheme::Role;

namespace CodeSyntaxHighlighter {

const QList<Rule>& commonRules()
{
    static const QList<Rule> rules {
        {QStringLiteral(R"re(\b\d+(?:\.\d+)?\b)re"), Role::number, 0},
        {QStringLiteral(R"re(\b(true|false|null|nil)\b)re"), Role::keyword, 1},
    };
    return rules;
}

const QList<Rule>& phpRules()
{
    static const QList<Rule> rules {
        {QStringLiteral(R"re(<\?(?:php|=)?|\?>)re"), Role::string, 1},
        {QStringLiteral(R"re(\$[A-Za-z_][A-Za-z0-9_]*)re"), Role::variable, 0},
        {QStringLiteral(R"re(@[A-Za-z_][A-Za-z0-9_]*)re"), Role::keyword, 0},
        {QStringLiteral(R"re(\b(class|interface|trait|enum|function|fn|public|protected|private|static|final|abstract|extends|implements|namespace|use|new|return|if|elseif|else|foreach|for|while|switch|case|break|continue|try|catch|finally|throw|match|echo|isset|empty|array|as)\b)re"),
         Role::keyword, 1},
    };
    return rules;
}

const QList<Rule>& htmlRules()
{
    static const QList<Rule> rules {
        {QStringLiteral(R"re(</?[A-Za-z][^>]*>)re"), Role::tag, 8},
        {QStringLiteral(R"re(\b[A-Za-z_:][-A-Za-z0-9_:.]*(?=\s*=))re"), Role::variable, 0},
    };
    return rules;
}

const QList<Rule>& javascriptRules()
{
    static const QList<Rule> rules {
        {QStringLiteral(R"re(\b(const|let|var|function|class|extends|new|return|if|else|for|while|switch|case|break|continue|try|catch|finally|throw|async|await|import|export|from|default|typeof|instanceof|in|of|this)\b)re"),
         Role::keyword, 0},
    };
    return rules;
}

const QList<Rule>& cssRules()
{
    static const QList<Rule> rules {
        {QStringLiteral(R"re(#[A-Fa-f0-9]{3,8}\b)re"), Role::number, 0},
        {QStringLiteral(R"re(--?[A-Za-z][A-Za-z0-9-]*(?=\s*:))re"), Role::variable, 0},
        {QStringLiteral(R"re(@[A-Za-z-]+)re"), Role::keyword, 0},
    };
    return rules;
}

const QList<Rule>& jsonRules()
{
    static const QList<Rule> rules {
        {QStringLiteral(R"re("(?:\\.|[^"\\])*"(?=\s*:))re"), Role::tag, 0},
    };
    return rules;
}

const QList<Rule>& stringAndCommentRules()
{
    static const QList<Rule> rules {
        {QStringLiteral(R"re("(?:\\.|[^"\\])*"|'(?:\\.|[^'\\])*')re"), Role::string, 0},
        {QStringLiteral(R"re(//.*$|#(?![A-Fa-f0-9]{3,8}\b).*$|/\*[\s\S]*?\*/|<!--[\s\S]*?-->)re"), Role::comment, 16},
    };
    return rules;
}

QList<Rule> rulesFor(const QString& fileName)
{
    const QString name = fileName.toLower();
    auto endsWith = [&](std::initializer_list<const char*> suffixes) {
        for (const char* suffix : suffixes) {
            if (name.endsWith(QLatin1String(suffix)))
                return true;
        }
        return false;
    };
    QList<Rule> rules = commonRules();
    if (endsWith({".php", ".blade.php"}))
        rules += phpRules();
    if (endsWith({".html", ".htm", ".blade.php", ".vue"}))
        rules += htmlRules();
    if (endsWith({".js", ".ts", ".jsx", ".tsx", ".vue"}))
        rules += javascriptRules();
    if (endsWith({".css", ".scss", ".sass"}))
        rules += cssRules();
    if (endsWith({".json"}))
        rules += jsonRules();
    rules += stringAndCommentRules();
    return rules;
}

namespace {

// ICU's word characters, and the characters its \b looks through (combining marks, format
// characters).
const QString kWord = QStringLiteral(R"re([\p{Alphabetic}\p{M}\p{Nd}\p{Pc}\x{200C}\x{200D}])re");
const QString kIgnorable = QStringLiteral(R"re([\p{Gr_Ext}\p{Cf}])re");

// The branches of "the nearest character before here that is not ignorable is a word character",
// looking through up to three ignorable characters; plain ASCII word characters first, as the
// quick case.
QString previousIsWordBranches()
{
    const QString word = QStringLiteral("(?!") + kIgnorable + QStringLiteral(")") + kWord;
    QStringList branches {QStringLiteral("[A-Za-z0-9_]")};
    QString tail;
    for (int marks = 0; marks <= 3; ++marks) {
        branches << word + tail;
        tail += kIgnorable;
    }
    return branches.join(u'|');
}

// ICU's \b: no boundary before an ignorable character; otherwise a boundary where "this is a word
// character" differs from "the previous non-ignorable character is one". The ASCII test in front
// only fails early where the full test would fail too.
QString icuWordBoundary()
{
    static const QString boundary = [] {
        const QString prev = previousIsWordBranches();
        const QString notIgnorable = QStringLiteral("(?!") + kIgnorable + u')';
        return QStringLiteral("(?:(?=") + kWord + u')' + notIgnorable + QStringLiteral("(?<![A-Za-z0-9_])(?<!") + prev
            + QStringLiteral(")|(?!") + kWord + u')' + notIgnorable + QStringLiteral("(?<=") + prev + QStringLiteral("))");
    }();
    return boundary;
}

// ICU's \s is the White_Space property: Unicode separators, tab to carriage return, and U+0085.
const QString kIcuSpace = QStringLiteral(R"re([\t-\r\x{85}\p{Z}])re");

// Rewrites the ICU-only meanings of \b and \s (outside character classes; inside one, [\s\S] is
// every character in both). An escaped-string loop becomes possessive: the same matches, without
// the backtracking stack that makes a long literal stop the matching.
// The characters a match can start with, for a pattern that begins with \b followed by \d, a
// character class or a group of literal words; empty when not known.
QString leadingCharacters(const QString& icu)
{
    if (!icu.startsWith(QLatin1String("\\b")) || icu.size() < 3)
        return {};
    const QStringView rest = QStringView(icu).mid(2);
    if (rest.startsWith(u"\\d"))
        return QStringLiteral("\\d");
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']', 1);
        return close > 0 ? rest.left(close + 1).toString() : QString();
    }
    if (rest.startsWith(u'(')) {
        const qsizetype close = rest.indexOf(u')');
        if (close < 0)
            return {};
        QString firsts;
        for (QStringView word : rest.mid(1, close - 1).split(u'|')) {
            if (word.isEmpty() || !word.front().isLetter() || word.front().unicode() > 0x7F)
                return {};
            if (!firsts.contains(word.front()))
                firsts += word.front();
        }
        return u'[' + firsts + u']';
    }
    return {};
}

// Word characters that are never ignorable: ASCII letters, digits and "_", and \d (decimal
// digits).
bool startsWithWordCharacter(const QString& leading)
{
    if (leading == QLatin1String("\\d"))
        return true;
    if (!leading.startsWith(u'[') || !leading.endsWith(u']') || leading.startsWith(QLatin1String("[^")))
        return false;
    for (QChar c : QStringView(leading).mid(1, leading.size() - 2)) {
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != u'_' && c != u'-')
            return false;
    }
    return true;
}

QString toPcre(const QString& icu)
{
    QString out;
    out.reserve(icu.size() * 2);
    bool inClass = false;
    for (qsizetype i = 0; i < icu.size(); ++i) {
        const QChar c = icu.at(i);
        if (c == u'\\' && i + 1 < icu.size()) {
            const QChar n = icu.at(i + 1);
            ++i;
            if (!inClass && n == u'b')
                out += icuWordBoundary();
            else if (!inClass && n == u's')
                out += kIcuSpace;
            else {
                out += c;
                out += n;
            }
            continue;
        }
        if (c == u'[' && !inClass)
            inClass = true;
        else if (c == u']' && inClass)
            inClass = false;
        out += c;
    }
    for (const QLatin1String quote : {QLatin1String("\""), QLatin1String("'")}) {
        const QString loop = QStringLiteral("(?:\\\\.|[^") + quote + QStringLiteral("\\\\])*");
        out.replace(loop + quote, loop + u'+' + quote);
    }
    // A name followed by a lookahead for spaces and "=" or ":": the name's characters are neither,
    // so giving some back never finds another match.
    for (const QLatin1String name : {QLatin1String("[-A-Za-z0-9_:.]*(?="), QLatin1String("[A-Za-z0-9-]*(?=")}) {
        QString possessive = name;
        possessive.insert(possessive.size() - 3, u'+');
        out.replace(name, possessive);
    }
    // A lookahead of the first characters lets the matcher skip ahead instead of testing the
    // boundary everywhere; it changes no match.
    const QString leading = leadingCharacters(icu);
    if (!leading.isEmpty()) {
        // Before a word character the boundary only asks whether the previous one is not.
        if (startsWithWordCharacter(leading) && out.startsWith(icuWordBoundary()))
            out.replace(0, icuWordBoundary().size(),
                        QStringLiteral("(?<![A-Za-z0-9_])(?<!") + previousIsWordBranches() + u')');
        out.prepend(QStringLiteral("(?=") + leading + u')');
    }
    return out;
}

} // namespace

QRegularExpression compile(const QString& icuPattern, unsigned options)
{
    QRegularExpression::PatternOptions qtOptions = QRegularExpression::UseUnicodePropertiesOption;
    if (options & 1)
        qtOptions |= QRegularExpression::CaseInsensitiveOption;
    if (options & 8)
        qtOptions |= QRegularExpression::DotMatchesEverythingOption;
    if (options & 16)
        qtOptions |= QRegularExpression::MultilineOption;
    // (*ANY): the line terminators of . ^ $ are ICU's (LF, CR, CR LF, VT, FF, NEL, LS, PS).
    return QRegularExpression(QStringLiteral("(*ANY)") + toPcre(icuPattern), qtOptions);
}

const QRegularExpression& compiled(const Rule& rule)
{
    // Never destroyed: a highlight still running at exit may use them.
    static std::mutex* mutex = new std::mutex;
    static auto* cache = new QHash<QString, std::shared_ptr<const QRegularExpression>>;
    const QString key = QString::number(rule.options) + u':' + rule.pattern;
    std::lock_guard lock(*mutex);
    std::shared_ptr<const QRegularExpression>& slot = (*cache)[key];
    if (!slot) {
        auto re = std::make_shared<QRegularExpression>(compile(rule.pattern, rule.options));
        re->optimize();
        slot = std::move(re);
    }
    return *slot;
}

namespace {

using Spans = std::vector<std::pair<qsizetype, qsizetype>>;

// Every match of one rule in the whole text, as start and end offsets.
Spans matchesOf(const Rule& rule, const QString& text)
{
    Spans spans;
    const QRegularExpression& re = compiled(rule);
    if (!re.isValid())
        return spans;
    QRegularExpressionMatchIterator it = re.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        if (m.capturedStart() >= 0 && m.capturedEnd() > m.capturedStart())
            spans.emplace_back(m.capturedStart(), m.capturedEnd());
    }
    return spans;
}

} // namespace

QByteArray apply(const QString& text, const QString& fileName)
{
    QByteArray colors(text.size(), char(Role::base));
    if (text.isEmpty())
        return colors;
    const QList<Rule> rules = rulesFor(fileName);
    // The rules are matched side by side; their colours are painted in order, so a later rule
    // still wins.
    std::vector<std::future<Spans>> pending;
    if (std::thread::hardware_concurrency() > 1 && text.size() > 4096) {
        try {
            for (const Rule& rule : rules)
                pending.push_back(std::async(std::launch::async, matchesOf, std::cref(rule), std::cref(text)));
        } catch (const std::system_error&) {
            // No threads to be had: the rest are matched here.
        }
    }
    char* data = colors.data();
    for (qsizetype i = 0; i < rules.size(); ++i) {
        const Spans spans = size_t(i) < pending.size() ? pending[size_t(i)].get() : matchesOf(rules[i], text);
        for (const auto& [start, end] : spans)
            std::fill(data + start, data + end, char(rules[i].color));
    }
    return colors;
}

} // namespace CodeSyntaxHighlighter
