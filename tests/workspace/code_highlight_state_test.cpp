// The highlighter's kept matches after edits: after every edit the colours equal a whole-text pass
// over the edited text, and outside the range the update reports they are the colours from before
// the edit (moved by it), so the editor only repaints that range. Edits that open or close a string,
// a block comment, an HTML comment or a tag far from the text they recolour; random edits of the
// characters the rules care about; a budget that sends a large change back to a whole-text pass.
#include "workspace/CodeEditorTheme.h"
#include "workspace/CodeHighlightState.h"
#include "workspace/CodeSyntaxHighlighter.h"

#include <gtest/gtest.h>
#include <random>

namespace {

const char* kSample = R"(<?php
namespace App;
/* Shows one user. */
class UserController extends Controller
{
    // The profile page.
    public function show(Request $request, int $id)
    {
        $user = User::find($id); # lookup
        return view('users.profile', ['user' => $user, 'count' => 42, 'ratio' => 3.14, 'ok' => true]);
    }
}
?>
<div class="card" id="user-42"
     data-role = "profile">
    <h1 title="Profile">Hello, <?= $user->name ?></h1>
    <!-- the user's summary -->
    <p style="color: #fff">Posts: 128, "quoted \" here" and 'single' text</p>
    @if ($user->admin)
        <a href="https://example.test/admin">Admin</a>
    @endif
</div>
<style> a { --main-bg : #abc; color: red; } @media x {} </style>
{"key": 1, "list" : [true, null], "s": "v"}
)";

// Words without a digit, quote, bracket or any other character a rule starts with: long stretches
// without a match, where the kept matches have checkpoints.
QString plainStretch(qsizetype size)
{
    const QString words = QStringLiteral("lorem ipsum dolor sit amet consectetur adipiscing elit sed do\n");
    QString text;
    while (text.size() < size)
        text += words;
    return text;
}

QString sampleText(int copies)
{
    QString text;
    for (int i = 0; i < copies; ++i) {
        text += QString::fromUtf8(kSample);
        if (i % 3 == 1)
            text += plainStretch(9000);
    }
    return text;
}

struct Edit {
    qsizetype from;
    qsizetype removed;
    QString inserted;
};

// Applies `edit` to `text` and the state, and checks the colours against a whole-text pass.
void applyAndCompare(CodeHighlightState& state, QString& text, const QString& fileName, const Edit& edit,
                     const std::string& label)
{
    const QByteArray before = state.colors(text, {0, text.size()});
    text.replace(edit.from, edit.removed, edit.inserted);
    const std::optional<CodeHighlightState::Range> range =
        state.update(text, edit.from, edit.removed, edit.inserted.size(), std::numeric_limits<int>::max());
    ASSERT_TRUE(range.has_value()) << label;
    const QByteArray expected = CodeSyntaxHighlighter::apply(text, fileName);
    const QByteArray kept = state.colors(text, {0, text.size()});
    ASSERT_EQ(kept.size(), expected.size()) << label;
    for (qsizetype i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(int(kept.at(i)), int(expected.at(i)))
            << label << ": offset " << i << " near \""
            << text.mid(std::max<qsizetype>(i - 15, 0), 30).toStdString() << "\"";
    }
    const qsizetype delta = edit.inserted.size() - edit.removed;
    for (qsizetype i = 0; i < range->begin; ++i)
        ASSERT_EQ(int(expected.at(i)), int(before.at(i))) << label << ": changed before the range at " << i;
    for (qsizetype i = range->end; i < expected.size(); ++i)
        ASSERT_EQ(int(expected.at(i)), int(before.at(i - delta))) << label << ": changed after the range at " << i;
    EXPECT_EQ(state.colors(text, *range), expected.mid(range->begin, range->end - range->begin)) << label;
}

const QStringList kFileNames {QStringLiteral("page.blade.php"), QStringLiteral("index.html"), QStringLiteral("site.css"),
                              QStringLiteral("data.json"), QStringLiteral("app.js"), QStringLiteral("README")};

} // namespace

TEST(CodeHighlightState, AWholeTextPassGivesTheHighlighterColours)
{
    const QString text = sampleText(4);
    for (const QString& fileName : kFileNames) {
        SCOPED_TRACE(fileName.toStdString());
        const CodeHighlightState state(text, fileName);
        EXPECT_TRUE(state.isUsable());
        EXPECT_EQ(state.colors(text, {0, text.size()}), CodeSyntaxHighlighter::apply(text, fileName));
        EXPECT_EQ(state.colors(text, {100, 900}), CodeSyntaxHighlighter::apply(text, fileName).mid(100, 800));
    }
    const CodeHighlightState empty(QString(), QStringLiteral("a.php"));
    EXPECT_TRUE(empty.colors(QString(), {0, 0}).isEmpty());
}

TEST(CodeHighlightState, EditsFarFromWhatTheyRecolourMatchAWholeTextPass)
{
    const QString base = sampleText(9);
    const qsizetype middle = base.size() / 2;
    const qsizetype late = base.size() - 200;
    struct Case {
        const char* name;
        std::vector<Edit> edits; // applied in order to the same text
    };
    const std::vector<Case> cases {
        {"a block comment opened at the top and closed near the end",
         {{10, 0, QStringLiteral("/*")}, {late, 0, QStringLiteral("*/")}, {late, 2, QString()}, {10, 2, QString()}}},
        {"an HTML comment opened in the middle, closed later, taken back",
         {{middle, 0, QStringLiteral("<!--")}, {late, 0, QStringLiteral("-->")}, {middle, 4, QString()}}},
        {"a double quote at the top re-pairs every later one", {{0, 0, QStringLiteral("\"")}, {0, 1, QString()}}},
        {"a single quote in the middle, then one near the end",
         {{middle, 0, QStringLiteral("'")}, {late, 0, QStringLiteral("'")}}},
        {"an escape before a closing quote, and a backslash before a line end",
         {{middle, 0, QStringLiteral("\"abc\\")}, {middle + 5, 0, QStringLiteral("\n")}, {middle + 4, 1, QString()}}},
        {"a tag left open swallows the text up to the next >",
         {{middle, 0, QStringLiteral("<a ")}, {late, 0, QStringLiteral(">")}, {middle, 3, QString()}}},
        {"a > taken away joins two tags", {{qsizetype(base.indexOf(u'>', middle)), 1, QString()}}},
        {"blank lines before = and :",
         {{qsizetype(base.indexOf(QStringLiteral(" = \"profile\""), middle)), 1, QStringLiteral("\n\n\n   ")}}},
        {"a line end inside a word and a number",
         {{qsizetype(base.indexOf(QStringLiteral("3.14"), middle)) + 1, 0, QStringLiteral("\r\n")}}},
        {"marks and format characters next to digits",
         {{qsizetype(base.indexOf(QStringLiteral("42"), middle)), 0, QString(QChar(0x0301)) + QChar(0x200D)}}},
        {"text added and removed at both ends",
         {{0, 0, QStringLiteral("x")}, {base.size() + 1, 0, QStringLiteral(" 12 \"")}, {0, 7, QString()}}},
        {"a large stretch deleted and put back",
         {{middle - 5000, 10000, QString()}, {middle - 5000, 0, base.mid(middle - 5000, 10000)}}},
        {"everything deleted, then typed again", {{0, base.size(), QString()}, {0, 0, QStringLiteral("<a b=\"1\">")}}},
        {"edits inside a long stretch without matches",
         {{qsizetype(base.indexOf(QStringLiteral("lorem"))) + 5000, 0, QStringLiteral("\"")},
          {qsizetype(base.indexOf(QStringLiteral("lorem"))) + 7000, 0, QStringLiteral("\"")},
          {qsizetype(base.indexOf(QStringLiteral("lorem"))) + 6000, 0, QStringLiteral("/*")}}},
    };
    for (const QString& fileName : kFileNames) {
        for (const Case& c : cases) {
            SCOPED_TRACE(fileName.toStdString() + ": " + c.name);
            QString text = base;
            CodeHighlightState state(text, fileName);
            for (size_t i = 0; i < c.edits.size(); ++i) {
                applyAndCompare(state, text, fileName, c.edits[i], "edit " + std::to_string(i));
                if (HasFatalFailure())
                    return;
            }
        }
    }
}

TEST(CodeHighlightState, RandomEditsMatchAWholeTextPass)
{
    const QStringList pieces {
        QStringLiteral("\""), QStringLiteral("'"), QStringLiteral("\\"), QStringLiteral("/*"), QStringLiteral("*/"),
        QStringLiteral("<!--"), QStringLiteral("-->"), QStringLiteral("<"), QStringLiteral(">"), QStringLiteral("</a"),
        QStringLiteral("<p "), QStringLiteral("="), QStringLiteral(":"), QStringLiteral(" "), QStringLiteral("\n"),
        QStringLiteral("\r\n"), QStringLiteral("\r"), QStringLiteral("#"), QStringLiteral("#fff "), QStringLiteral("//"),
        QStringLiteral("$x"), QStringLiteral("@if"), QStringLiteral("12"), QStringLiteral("3.5"), QStringLiteral("true"),
        QStringLiteral("class"), QStringLiteral("--v"), QStringLiteral("-"), QStringLiteral("<?php"), QStringLiteral("?>"),
        QString(QChar(0x00E9)), QString(QChar(0x0301)), QString(QChar(0x2028)), QString(QChar(0x0085)),
        QStringLiteral("word"), QStringLiteral("\t")};
    std::mt19937 random(29);
    for (const QString& fileName : kFileNames) {
        SCOPED_TRACE(fileName.toStdString());
        QString text = sampleText(5);
        CodeHighlightState state(text, fileName);
        for (int step = 0; step < 250; ++step) {
            Edit edit;
            edit.from = qsizetype(random() % quint32(text.size() + 1));
            const quint32 kind = random() % 10;
            const qsizetype maxRemoved = kind == 0 ? 2000 : kind < 4 ? 6 : 0;
            edit.removed = maxRemoved > 0 ? std::min<qsizetype>(qsizetype(random() % quint32(maxRemoved + 1)),
                                                                text.size() - edit.from)
                                          : 0;
            for (quint32 n = random() % 4; n > 0; --n)
                edit.inserted += pieces.at(qsizetype(random() % quint32(pieces.size())));
            applyAndCompare(state, text, fileName, edit, "step " + std::to_string(step));
            if (HasFatalFailure())
                return;
        }
    }
}

TEST(CodeHighlightState, ABudgetSendsLargeChangesBackToAWholeTextPass)
{
    QString text = sampleText(30);
    const QString fileName = QStringLiteral("page.blade.php");
    CodeHighlightState state(text, fileName);

    // A keystroke in the middle re-matches a neighbourhood only.
    const qsizetype middle = text.indexOf(QStringLiteral("Hello"), text.size() / 2);
    text.insert(middle, u'x');
    const std::optional<CodeHighlightState::Range> small = state.update(text, middle, 0, 1, 20000);
    ASSERT_TRUE(small.has_value());
    EXPECT_LT(small->end - small->begin, 4000);
    EXPECT_EQ(state.colors(text, {0, text.size()}), CodeSyntaxHighlighter::apply(text, fileName));

    // A quote at the top re-pairs every later one: more than the budget.
    text.insert(0, u'"');
    EXPECT_FALSE(state.update(text, 0, 0, 1, 20000).has_value());
    EXPECT_FALSE(state.isUsable());
    EXPECT_FALSE(state.update(text, 0, 0, 0, std::numeric_limits<int>::max()).has_value()) << "stays unusable";

    // An update that does not fit the text it is given.
    CodeHighlightState other(text, fileName);
    EXPECT_FALSE(other.update(text, 0, 0, 5, std::numeric_limits<int>::max()).has_value());
    EXPECT_FALSE(other.isUsable());
}

TEST(CodeHighlightState, TextThatIsNotValidUtf16IsLeftToTheWholeTextPass)
{
    const QString fileName = QStringLiteral("page.blade.php");
    QString text = sampleText(2);
    CodeHighlightState state(text, fileName);
    ASSERT_TRUE(state.isUsable());
    // A lone surrogate typed in: the edit is not followed.
    text.insert(100, QChar(0xD800));
    EXPECT_FALSE(state.update(text, 100, 0, 1, std::numeric_limits<int>::max()).has_value());
    EXPECT_FALSE(CodeHighlightState(text, fileName).isUsable());
    // A pair split by an edit next to it.
    QString paired = sampleText(2);
    paired.insert(50, QString::fromUcs4(U"\U0001F600"));
    CodeHighlightState pairedState(paired, fileName);
    ASSERT_TRUE(pairedState.isUsable());
    EXPECT_EQ(pairedState.colors(paired, {0, paired.size()}), CodeSyntaxHighlighter::apply(paired, fileName));
    paired.remove(51, 1);
    EXPECT_FALSE(pairedState.update(paired, 51, 1, 0, std::numeric_limits<int>::max()).has_value());
}
