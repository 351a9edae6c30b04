// The editor's text and colour buffers with a gap at the last edit, and its offset tables with a
// pending move: each follows random edits exactly as a plain string or vector does, reads across
// the gap see the contents in order, copies never share a gap, and an edit moves only what lies
// between it and the edit before.
#include "workspace/CodeGapBuffer.h"
#include "workspace/CodeOffsetTable.h"

#include <QByteArray>
#include <QString>
#include <gtest/gtest.h>
#include <random>

namespace {

template <class String>
String contentsOf(const CodeGapBuffer<String>& buffer)
{
    String out;
    for (qsizetype i = 0; i < buffer.size(); ++i)
        out.append(buffer.at(i));
    return out;
}

QString randomText(std::mt19937& random, int length)
{
    QString out;
    for (int i = 0; i < length; ++i)
        out.append(QChar(u'a' + char16_t(random() % 26)));
    return out;
}

} // namespace

TEST(CodeGapBuffer, FollowsRandomEditsAndReadsAsAPlainString)
{
    std::mt19937 random(29);
    const QString start = randomText(random, 5000);
    QString plain = start;
    CodeGapBuffer<QString> gap(start);
    for (int step = 0; step < 3000; ++step) {
        const int position = int(random() % (plain.size() + 1));
        const int removed = int(random() % 4 == 0 ? random() % 40 : random() % 2);
        const QString with = randomText(random, int(random() % 3 == 0 ? random() % 3000 : random() % 3));
        plain.replace(position, std::min<qsizetype>(removed, plain.size() - position), with);
        gap.replace(position, removed, with.constData(), with.size());
        ASSERT_EQ(gap.size(), plain.size()) << "step " << step;
        // Reads of every kind, some across the gap.
        const int from = int(random() % (plain.size() + 1));
        const int length = int(random() % (plain.size() - from + 1));
        switch (step % 4) {
        case 0:
            ASSERT_EQ(gap.mid(from, length), plain.mid(from, length)) << "step " << step;
            break;
        case 1:
            ASSERT_EQ(QStringView(gap.constData(from, length), length), QStringView(plain).mid(from, length));
            break;
        case 2:
            if (from < plain.size())
                ASSERT_EQ(gap.at(from), plain.at(from));
            break;
        default:
            if (step % 40 == 3)
                ASSERT_EQ(gap.whole(), plain) << "step " << step;
            break;
        }
    }
    EXPECT_EQ(contentsOf(gap), plain);
    EXPECT_EQ(gap.whole(), plain);
    EXPECT_EQ(gap.whole().size(), plain.size());
}

TEST(CodeGapBuffer, EditsAtTheEndsAndOutOfRangeAreClamped)
{
    CodeGapBuffer<QByteArray> bytes(QByteArray("middle"));
    bytes.replace(0, 0, "<");
    bytes.replace(bytes.size(), 0, ">");
    bytes.replace(-5, 1, "[");         // from the start
    bytes.replace(bytes.size(), 9, "]"); // nothing left to remove at the end
    bytes.replace(3, 1000, "");          // removes the rest
    EXPECT_EQ(bytes.whole(), QByteArray("[mi"));
    bytes.replace(1, 2, nullptr, 0);
    EXPECT_EQ(bytes.whole(), QByteArray("["));
    bytes.replace(0, 1, nullptr, 0);
    EXPECT_TRUE(bytes.isEmpty());
    EXPECT_EQ(bytes.whole(), QByteArray());

    CodeGapBuffer<QString> empty;
    EXPECT_EQ(empty.whole(), QString());
    empty.replace(0, 0, u"x");
    EXPECT_EQ(empty.whole(), QStringLiteral("x"));
}

TEST(CodeGapBuffer, NeverWritesIntoABufferItShares)
{
    const QString original = QStringLiteral("shared text of the file");
    QString holder = original;
    CodeGapBuffer<QString> gap(holder);
    EXPECT_TRUE(gap.isShared());
    gap.replace(0, 6, u"own");
    EXPECT_EQ(holder, original);
    EXPECT_EQ(gap.whole(), QStringLiteral("own text of the file"));

    // What whole() hands out may be kept; the next edit leaves the kept one as it was.
    const QString kept = gap.whole();
    gap.replace(4, 4, u"words");
    EXPECT_EQ(kept, QStringLiteral("own text of the file"));
    EXPECT_EQ(gap.whole(), QStringLiteral("own words of the file"));

    // A copy taken while there is a gap is a text of its own.
    gap.replace(0, 0, u">");
    CodeGapBuffer<QString> copy = gap;
    copy.replace(0, 1, u"<");
    gap.replace(gap.size(), 0, u"!");
    EXPECT_EQ(copy.whole(), QStringLiteral("<own words of the file"));
    EXPECT_EQ(gap.whole(), QStringLiteral(">own words of the file!"));
    CodeGapBuffer<QString> moved = std::move(copy);
    EXPECT_EQ(moved.whole(), QStringLiteral("<own words of the file"));
    EXPECT_EQ(copy.size(), 0);
}

TEST(CodeGapBuffer, AnEditMovesOnlyWhatLiesBetweenItAndTheEditBefore)
{
    // Edits far apart in a large buffer, each near the one before, keep the buffer where it is
    // (no copy) once the gap is open, and its contents exact.
    QString text(2'000'000, u'x');
    text.reserve(text.size() * 2);
    CodeGapBuffer<QString> gap(std::move(text));
    gap.replace(1'000'000, 0, u"q");
    const QChar* before = gap.constData(0, 1);
    for (int i = 0; i < 500; ++i)
        gap.replace(1'000'000 + i, 0, u"q");
    for (int i = 0; i < 500; ++i)
        gap.replace(1'000'000 + 499 - i, 1, nullptr, 0);
    EXPECT_EQ(gap.constData(0, 1), before);
    EXPECT_EQ(gap.size(), 2'000'001);
    EXPECT_EQ(gap.mid(999'999, 3), QStringLiteral("xqx"));
}

TEST(CodeOffsetTable, FollowsRandomShiftsAndReplacementsAsAPlainVector)
{
    std::mt19937 random(7);
    std::vector<int> plain;
    for (int i = 0; i < 400; ++i)
        plain.push_back(i * 10);
    CodeOffsetTable table(plain);
    for (int step = 0; step < 4000; ++step) {
        const size_t first = random() % (plain.size() + 1);
        if (step % 3 == 0) {
            const size_t last = std::min(plain.size(), first + random() % 4);
            const int base = first > 0 ? plain[first - 1] : -1000;
            std::vector<int> values;
            for (size_t k = 0, n = random() % 4; k < n; ++k)
                values.push_back(base + 1 + int(k));
            plain.erase(plain.begin() + std::ptrdiff_t(first), plain.begin() + std::ptrdiff_t(last));
            plain.insert(plain.begin() + std::ptrdiff_t(first), values.begin(), values.end());
            table.replace(first, last, values);
        } else {
            const int delta = int(random() % 41) - 20;
            for (size_t i = first; i < plain.size(); ++i)
                plain[i] += delta;
            table.shift(first, delta);
        }
        ASSERT_EQ(table.size(), plain.size()) << "step " << step;
        if (step % 50 == 0)
            ASSERT_EQ(table.toVector(), plain) << "step " << step;
        const size_t i = plain.empty() ? 0 : random() % plain.size();
        if (!plain.empty())
            ASSERT_EQ(table[i], plain[i]) << "step " << step;
    }
    EXPECT_EQ(table.toVector(), plain);
}

TEST(CodeOffsetTable, UpperBoundSeesThePendingMove)
{
    CodeOffsetTable table({0, 10, 20, 30, 40});
    table.shift(2, 5); // 0 10 25 35 45
    struct Case {
        int value;
        size_t index;
    };
    for (const Case& c : {Case {-1, 0}, Case {0, 1}, Case {9, 1}, Case {10, 2}, Case {24, 2}, Case {25, 3},
                          Case {44, 4}, Case {45, 5}, Case {1000, 5}}) {
        EXPECT_EQ(table.upperBound(c.value), c.index) << c.value;
    }
    table.replace(1, 3, {12, 14, 16}); // 0 12 14 16 35 45
    table.shift(0, 1);                 // 1 13 15 17 36 46
    EXPECT_EQ(table.toVector(), (std::vector<int> {1, 13, 15, 17, 36, 46}));
    EXPECT_EQ(table.upperBound(15), 3u);
    EXPECT_EQ(CodeOffsetTable().upperBound(3), 0u);
}
