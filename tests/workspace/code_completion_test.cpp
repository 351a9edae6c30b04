// The completion lists and the editing assistance: lists, orders and the tag rules.
#include "workspace/CodeCompletionProvider.h"
#include "workspace/CodeEditingAssistant.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>
#include <random>

using CodeEditingAssistant::Edit;

namespace {
QStringList words(const char* text) { return QString::fromUtf8(text).split(u' ', Qt::SkipEmptyParts); }
} // namespace

TEST(CodeCompletionProvider, ListsInOrder)
{
    EXPECT_EQ(CodeCompletionProvider::bladeDirectives().size(), 44);
    EXPECT_EQ(CodeCompletionProvider::htmlTags().size(), 75);
    EXPECT_EQ(CodeCompletionProvider::htmlAttributes().size(), 42);
    EXPECT_EQ(CodeCompletionProvider::bladeDirectives().first(), QStringLiteral("auth"));
    EXPECT_EQ(CodeCompletionProvider::bladeDirectives().last(), QStringLiteral("yield"));
    EXPECT_EQ(CodeCompletionProvider::htmlTags().mid(28, 6), words("h1 h2 h3 h4 h5 h6"));
    EXPECT_EQ(CodeCompletionProvider::htmlAttributes().mid(2, 3), words("alt aria-label aria-describedby"));
    EXPECT_EQ(CodeCompletionProvider::htmlAttributes().at(10), QStringLiteral("data-"));
    EXPECT_EQ(CodeEditingAssistant::voidTags().size(), 14);
}

TEST(CodeCompletionProvider, SupportsHTMLByLowerCasedSuffix)
{
    struct Case {
        const char* name;
        bool expected;
    };
    const Case cases[] = {
        {"a.html", true}, {"A.HTML", true}, {"a.htm", true}, {"a.php", true}, {"a.blade.php", true}, {"App.Vue", true},
        {"a.js", false}, {"a.css", false}, {"README", false}, {"a.phtml", false}, {"html", false}, {"a.php.bak", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CodeCompletionProvider::supportsHTML(QString::fromUtf8(c.name)), c.expected) << c.name;
}

TEST(CodeCompletionProvider, Suggestions)
{
    struct Case {
        const char* name;
        const char* fileName;
        QString prefix;
        const char* partial;
        QStringList expected;
    };
    const Case cases[] = {
        {"blade directive, prefix matches then containing", "v.blade.php", QStringLiteral("<div>@fore"), "fore",
         words("foreach forelse endforeach endforelse")},
        {"blade if", "v.blade.php", QStringLiteral("@if"), "if", words("if elseif endif")},
        {"blade, empty partial: every directive", "v.blade.php", QStringLiteral("x @"), "",
         CodeCompletionProvider::bladeDirectives()},
        {"blade, upper-case name", "V.BLADE.PHP", QStringLiteral("@Sec"), "sec", words("section endsection")},
        {"blade @ followed by a space: tag rules", "v.blade.php", QStringLiteral("<di @x di"), "di",
         words("disabled loading")},
        {"blade @ with a tab after it", "v.blade.php", QStringLiteral("@if\t"), "", {}},
        {"php @ never gives directives", "v.php", QStringLiteral("<p>@fore"), "fore", {}},
        {"html tag name", "a.html", QStringLiteral("<p></p><di"), "di", words("dialog div audio")},
        {"html tag, empty partial", "a.html", QStringLiteral("<"), "", CodeCompletionProvider::htmlTags()},
        {"attributes inside an input tag", "a.html", QStringLiteral("<input ty"), "ty", words("type style")},
        {"attributes over a line break", "a.vue", QStringLiteral("<a\n hr"), "hr", words("href")},
        {"after a closed tag: nothing", "a.html", QStringLiteral("<p>text"), "text", {}},
        {"no tag at all", "a.html", QStringLiteral("plain"), "plain", {}},
        {"not html", "a.js", QStringLiteral("<di"), "di", {}},
        {"no match", "a.html", QStringLiteral("<zz"), "zz", {}},
        {"prefix is lower-cased", "a.html", QStringLiteral("<INPUT TY"), "ty", words("type style")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CodeCompletionProvider::suggestions(QString::fromUtf8(c.fileName), c.prefix, QString::fromUtf8(c.partial)),
                  c.expected)
            << c.name;
    }
}

TEST(CodeCompletionProvider, FilteredKeepsListOrder)
{
    const QStringList list = words("abc cab bca ab");
    EXPECT_EQ(CodeCompletionProvider::filtered(list, QString()), list);
    EXPECT_EQ(CodeCompletionProvider::filtered(list, QStringLiteral("ab")), words("abc ab cab"));
    EXPECT_EQ(CodeCompletionProvider::filtered(list, QStringLiteral("A")), QStringList());
    EXPECT_EQ(CodeCompletionProvider::filtered(list, QStringLiteral("x")), QStringList());
}

TEST(CodeEditingAssistant, OpeningTagBeforeCursor)
{
    struct Case {
        QString source;
        int cursor;
        std::optional<QString> expected;
    };
    const Case cases[] = {
        {QStringLiteral("<div>"), 5, QStringLiteral("div")},
        {QStringLiteral("<Div class=\"a b\">x"), 17, QStringLiteral("Div")},
        {QStringLiteral("<x-card:slot data-a=1>"), 22, QStringLiteral("x-card:slot")},
        {QStringLiteral("<h1>"), 4, QStringLiteral("h1")},
        {QStringLiteral("<div>"), 99, QStringLiteral("div")},
        {QStringLiteral("<div>"), 4, std::nullopt},
        {QStringLiteral("<div>x"), 6, std::nullopt},
        {QStringLiteral("</div>"), 6, std::nullopt},
        {QStringLiteral("<!DOCTYPE html>"), 15, std::nullopt},
        {QStringLiteral("<?php ?>"), 8, std::nullopt},
        {QStringLiteral("<br/>"), 5, std::nullopt},
        {QStringLiteral("<1a>"), 4, std::nullopt},
        {QStringLiteral("<div\tid=1>"), 10, QStringLiteral("div")},
        {QStringLiteral("<div\nid=1>"), 10, QStringLiteral("div")},
        {QStringLiteral("<a href=\"<\">"), 12, std::nullopt},
        {QStringLiteral(">"), 1, std::nullopt},
        {QString(), 0, std::nullopt},
        {QStringLiteral("<div>"), -3, std::nullopt},
        // The caret on the line after the tag is not right after it.
        {QStringLiteral("<div>\n"), 6, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CodeEditingAssistant::openingTagBeforeCursor(c.source, c.cursor), c.expected)
            << c.source.toStdString() << " @" << c.cursor;
    }
}

TEST(CodeEditingAssistant, AutoClosingTag)
{
    struct Case {
        const char* fileName;
        QString source;
        int cursor;
        std::optional<QString> expected;
    };
    const Case cases[] = {
        {"a.html", QStringLiteral("<div class=\"x\">"), 15, QStringLiteral("</div>")},
        {"a.html", QStringLiteral("<Div>"), 5, QStringLiteral("</Div>")},
        {"a.html", QStringLiteral("<br>"), 4, std::nullopt},
        {"a.html", QStringLiteral("<IMG src=x>"), 11, std::nullopt},
        {"a.html", QStringLiteral("<p></P>"), 3, std::nullopt},
        {"a.html", QStringLiteral("<p> </p>"), 3, QStringLiteral("</p>")},
        {"a.html", QStringLiteral("<p></pre>"), 3, QStringLiteral("</p>")},
        {"a.js", QStringLiteral("<div>"), 5, std::nullopt},
        {"a.php", QStringLiteral("<?php if ($a > 1)"), 15, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CodeEditingAssistant::autoClosingTag(QString::fromUtf8(c.fileName), c.source, c.cursor), c.expected)
            << c.source.toStdString();
    }
}

TEST(CodeEditingAssistant, SmartNewline)
{
    struct Case {
        const char* name;
        const char* fileName;
        QString source;
        int location;
        std::optional<Edit> expected;
    };
    const Case cases[] = {
        {"between ul tags indented by two", "a.html", QStringLiteral("  <ul></ul>"), 6,
         Edit {QStringLiteral("\n      \n  "), 7}},
        {"after br", "a.html", QStringLiteral("<br>"), 4, Edit {QStringLiteral("\n    "), 5}},
        {"after an opening tag, nothing after", "a.html", QStringLiteral("\t<div>"), 6, Edit {QStringLiteral("\n\t    "), 6}},
        {"middle of an indented plain line", "a.php", QStringLiteral("    echo 1;"), 8, Edit {QStringLiteral("\n    "), 5}},
        {"tabs and spaces kept", "a.php", QStringLiteral("\t \tx"), 4, Edit {QStringLiteral("\n\t \t"), 4}},
        {"indent is the line head only", "a.php", QStringLiteral("      x"), 3, Edit {QStringLiteral("\n   "), 4}},
        {"line of a CR LF file", "a.php", QStringLiteral("a\r\n  b"), 6, Edit {QStringLiteral("\n  "), 3}},
        {"line after a lone CR", "a.php", QStringLiteral("a\r  b"), 5, Edit {QStringLiteral("\n  "), 3}},
        {"closing tag case-insensitive", "a.html", QStringLiteral("<P></p>"), 3, Edit {QStringLiteral("\n    \n"), 5}},
        {"location clamped", "a.html", QStringLiteral("  x"), 50, Edit {QStringLiteral("\n  "), 3}},
        {"not html", "a.js", QStringLiteral("<ul></ul>"), 4, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto edit = CodeEditingAssistant::smartNewline(QString::fromUtf8(c.fileName), c.source, c.location);
        ASSERT_EQ(edit.has_value(), c.expected.has_value());
        if (edit) {
            EXPECT_EQ(edit->text, c.expected->text);
            EXPECT_EQ(edit->caretOffset, c.expected->caretOffset);
        }
    }
}

namespace {

// The lists as read from the whole prefix, lower-cased: what reading back from the caret must give.
QStringList suggestionsFromWholePrefix(const QString& fileName, const QString& prefix, const QString& partial)
{
    if (!CodeCompletionProvider::supportsHTML(fileName))
        return {};
    const QString text = prefix.toLower();
    auto hasWhitespace = [](QStringView stretch) {
        return std::any_of(stretch.begin(), stretch.end(), [](QChar c) { return CodeCompletionProvider::isWhitespace(c); });
    };
    if (fileName.toLower().endsWith(QLatin1String(".blade.php"))) {
        const qsizetype at = text.lastIndexOf(u'@');
        if (at >= 0 && !hasWhitespace(QStringView(text).mid(at)))
            return CodeCompletionProvider::filtered(CodeCompletionProvider::bladeDirectives(), partial);
    }
    const qsizetype open = text.lastIndexOf(u'<');
    const qsizetype close = text.lastIndexOf(u'>');
    if (open < 0 || close > open)
        return {};
    return CodeCompletionProvider::filtered(hasWhitespace(QStringView(text).mid(open)) ? CodeCompletionProvider::htmlAttributes()
                                                                                       : CodeCompletionProvider::htmlTags(),
                                            partial);
}

} // namespace

TEST(CodeCompletionProvider, ReadingBackFromTheCaretGivesTheListsOfTheWholePrefix)
{
    // Pieces whose lower case is longer (U+0130), or is another letter (Kelvin sign), whitespace of
    // every kind, and the characters the rules look for.
    const QStringList pieces {QStringLiteral("<"), QStringLiteral(">"), QStringLiteral("@"), QStringLiteral(" "),
                              QStringLiteral("\t"), QStringLiteral("\n"), QString(QChar(0x2028)), QString(QChar(0x3000)),
                              QString(QChar(0x0130)), QString(QChar(0x212A)), QStringLiteral("di"), QStringLiteral("Fore"),
                              QStringLiteral("/"), QString::fromUcs4(U"\U00010400")};
    std::mt19937 random(103);
    for (const QString fileName : {QStringLiteral("v.blade.php"), QStringLiteral("p.php"), QStringLiteral("a.HTML")}) {
        for (int n = 0; n < 400; ++n) {
            QString prefix;
            for (quint32 k = random() % 9; k > 0; --k)
                prefix += pieces.at(qsizetype(random() % quint32(pieces.size())));
            const QString partial = QStringList {QString(), QStringLiteral("di"), QStringLiteral("fore")}.at(n % 3);
            EXPECT_EQ(CodeCompletionProvider::suggestions(fileName, QStringView(prefix), partial),
                      suggestionsFromWholePrefix(fileName, prefix, partial))
                << fileName.toStdString() << " " << prefix.toStdString();
        }
    }
}

TEST(CodeEditingAssistant, TheTextAfterTheCaretIsComparedInLowerCaseAsAWhole)
{
    const QString i = QString(QChar(0x0130)); // lower-cases to two characters
    const QString kelvin = QString(QChar(0x212A));
    const QString emoji = QString::fromUcs4(U"\U0001F600");
    const QStringList afters {QStringLiteral("</DIV>"), QStringLiteral("</Div> rest"), QStringLiteral("</div"),
                              QStringLiteral("</d") + i + QStringLiteral("v>"), QString(), QStringLiteral("</divx>"),
                              QStringLiteral("</div>") + emoji, QStringLiteral("</") + emoji, QStringLiteral("</di"),
                              QStringLiteral("</") + kelvin + QStringLiteral("bd>")};
    for (const QString tag : {QStringLiteral("div"), QStringLiteral("Div"), QStringLiteral("kbd")}) {
        for (const QString& after : afters) {
            const QString source = u'<' + tag + u'>' + after;
            const int cursor = int(tag.size()) + 2;
            const bool closed = after.toLower().startsWith(QStringLiteral("</") + tag.toLower() + u'>');
            const std::optional<QString> closing = CodeEditingAssistant::autoClosingTag(QStringLiteral("a.html"), source, cursor);
            EXPECT_EQ(closing.has_value(), !closed) << source.toStdString();
            const std::optional<Edit> edit = CodeEditingAssistant::smartNewline(QStringLiteral("a.html"), source, cursor);
            ASSERT_TRUE(edit.has_value());
            EXPECT_EQ(edit->text, closed ? QStringLiteral("\n    \n") : QStringLiteral("\n    ")) << source.toStdString();
        }
    }
}
