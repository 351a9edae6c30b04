// User-perceived characters from ICU: splitting, counting, and cutting a text at the first or
// last n characters or at a position without splitting a character.
#include "platform/Graphemes.h"

#include <gtest/gtest.h>

namespace {

const QString kDecomposed = QStringLiteral("e\u0301");                                     // e + combining acute
const QString kFamily = QStringLiteral("\U0001F469\u200D\U0001F469\u200D\U0001F467");        // joined emoji
const QString kThumb = QStringLiteral("\U0001F44D\U0001F3FD");                              // with a skin tone
const QString kFlag = QStringLiteral("\U0001F1FB\U0001F1F3");                               // two regional indicators
const QString kHangul = QStringLiteral("\u1112\u1161\u11AB");                               // conjoining jamo

} // namespace

TEST(Graphemes, SplitAndCountTakeWholeCharacters)
{
    const struct {
        const char* name;
        QString text;
        QStringList characters;
    } cases[] = {
        {"empty", QString(), {}},
        {"ascii", QStringLiteral("ab"), {QStringLiteral("a"), QStringLiteral("b")}},
        {"combining mark", QStringLiteral("a") + kDecomposed, {QStringLiteral("a"), kDecomposed}},
        {"joined emoji", kFamily + u'x', {kFamily, QStringLiteral("x")}},
        {"skin tone", kThumb, {kThumb}},
        {"two flags", kFlag + kFlag, {kFlag, kFlag}},
        {"conjoining jamo", kHangul, {kHangul}},
        {"CR LF", QStringLiteral("a\r\nb"), {QStringLiteral("a"), QStringLiteral("\r\n"), QStringLiteral("b")}},
        {"lone surrogate", QString(QChar(0xD800)) + u'a', {QString(QChar(0xD800)), QStringLiteral("a")}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Graphemes::split(c.text), c.characters) << c.name;
        EXPECT_EQ(Graphemes::count(c.text), c.characters.size()) << c.name;
    }
}

TEST(Graphemes, BoundariesRunFromZeroToTheEnd)
{
    EXPECT_EQ(Graphemes::boundaries(QString()), QList<qsizetype>{0});
    EXPECT_EQ(Graphemes::boundaries(QStringLiteral("a") + kDecomposed + u'b'), (QList<qsizetype>{0, 1, 3, 4}));
    EXPECT_EQ(Graphemes::boundaries(kFlag + kFamily), (QList<qsizetype>{0, 4, 4 + kFamily.size()}));
}

TEST(Graphemes, LeftAndRightKeepWholeCharacters)
{
    const QString text = QStringLiteral("a") + kDecomposed + kFamily + u'z';
    const struct {
        qsizetype n;
        QString left;
        QString right;
    } cases[] = {
        {0, QString(), QString()},
        {1, QStringLiteral("a"), QStringLiteral("z")},
        {2, QStringLiteral("a") + kDecomposed, kFamily + u'z'},
        {3, QStringLiteral("a") + kDecomposed + kFamily, kDecomposed + kFamily + u'z'},
        {4, text, text},
        {50, text, text},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Graphemes::left(text, c.n), c.left) << c.n;
        EXPECT_EQ(Graphemes::right(text, c.n), c.right) << c.n;
    }
    EXPECT_EQ(Graphemes::left(QString(), 3), QString());
    EXPECT_EQ(Graphemes::right(QString(), 3), QString());
}

TEST(Graphemes, BoundaryAtOrBeforeAndAfterAnswerABoundaryItself)
{
    // a | e + mark | 😀 (a surrogate pair) | b
    const QString text = QStringLiteral("a") + kDecomposed + QStringLiteral("\U0001F600") + u'b';
    const struct {
        qsizetype position;
        qsizetype before;
        qsizetype after;
    } cases[] = {
        {-5, 0, 0}, {0, 0, 0}, {1, 1, 1}, {2, 1, 3}, {3, 3, 3}, {4, 3, 5}, {5, 5, 5}, {6, 6, 6}, {60, 6, 6},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Graphemes::boundaryAtOrBefore(text, c.position), c.before) << c.position;
        EXPECT_EQ(Graphemes::boundaryAtOrAfter(text, c.position), c.after) << c.position;
    }
    EXPECT_EQ(Graphemes::boundaryAtOrBefore(QString(), 3), 0);
    EXPECT_EQ(Graphemes::boundaryAtOrAfter(QString(), 3), 0);
}

TEST(Graphemes, LongTextsAreCutFromTheirEnds)
{
    // A log of megabytes, cut at either end and near its end.
    const QString log = QString(4 * 1024 * 1024, u'x') + kDecomposed.repeated(3);
    EXPECT_EQ(Graphemes::right(log, 4), u'x' + kDecomposed.repeated(3));
    EXPECT_EQ(Graphemes::left(log, 2), QStringLiteral("xx"));
    EXPECT_EQ(Graphemes::boundaryAtOrBefore(log, log.size() - 1), log.size() - 2);
}
