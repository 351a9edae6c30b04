// The slug of a name: root lower-casing, grapheme clusters kept whole when their first scalar is
// alphabetic or numeric, everything else one "-", runs collapsed and trimmed.
#include "app/AppModel.h"

#include <gtest/gtest.h>

namespace {

struct SlugCase {
    const char* input; // UTF-8
    const char* slug;  // UTF-8
    const char* why;
};

const SlugCase kCases[] = {
    // The documented examples.
    {"My Blog!", "my-blog", "words"},
    {"Caf\xc3\xa9 \xc3\x89t\xc3\xa9", "caf\xc3\xa9-\xc3\xa9t\xc3\xa9", "precomposed accents"},
    {"a_b", "a-b", "underscore"},
    {"--A--", "a", "trimmed"},
    {"Shop 2024", "shop-2024", "digits"},
    {"!!!", "", "punctuation only"},
    {"   ", "", "spaces only"},
    {"", "", "empty"},
    // Combining marks stay with their letter.
    {"Cafe\xcc\x81 E\xcc\x81te\xcc\x81", "cafe\xcc\x81-e\xcc\x81te\xcc\x81", "decomposed accents"},
    {"a\xcc\x81\xcc\xa3 b", "a\xcc\x81\xcc\xa3-b", "two marks on one letter"},
    {"\xcc\x81" "abc", "abc", "a leading lone mark is not a letter"},
    {"\xc4\xb0stanbul", "i\xcc\x87stanbul", "dotted capital I lower-cases to i + dot above, kept whole"},
    {"STRASSE Stra\xc3\x9f" "e", "strasse-stra\xc3\x9f" "e", "sharp s is already lower case"},
    {"\xce\x9f\xce\x94\xce\x9f\xce\xa3", "\xce\xbf\xce\xb4\xce\xbf\xcf\x82", "Greek capital sigma at the end becomes final sigma"},
    // Letters and digits of other scripts.
    {"\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82 \xd0\x9c\xd0\xb8\xd1\x80", "\xd0\xbf\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82-\xd0\xbc\xd0\xb8\xd1\x80", "Cyrillic"},
    {"\xe4\xbd\xa0\xe5\xa5\xbd\xef\xbc\x8c\xe4\xb8\x96\xe7\x95\x8c", "\xe4\xbd\xa0\xe5\xa5\xbd-\xe4\xb8\x96\xe7\x95\x8c", "Han with a full-width comma"},
    {"\xe3\x82\xab\xe3\x83\xbc\xe3\x83\x89", "\xe3\x82\xab\xe3\x83\xbc\xe3\x83\x89", "Katakana with the prolonged sound mark"},
    {"\xd9\x85\xd8\xb1\xd8\xad\xd8\xa8\xd8\xa7 \xd8\xa8\xd9\x83", "\xd9\x85\xd8\xb1\xd8\xad\xd8\xa8\xd8\xa7-\xd8\xa8\xd9\x83", "Arabic"},
    {"\xe0\xa4\xa8\xe0\xa4\xae\xe0\xa4\xb8\xe0\xa5\x8d\xe0\xa4\xa4\xe0\xa5\x87", "\xe0\xa4\xa8\xe0\xa4\xae\xe0\xa4\xb8\xe0\xa5\x8d\xe0\xa4\xa4\xe0\xa5\x87", "Devanagari with virama and vowel sign"},
    {"\xed\x95\x9c\xea\xb5\xad\xec\x96\xb4", "\xed\x95\x9c\xea\xb5\xad\xec\x96\xb4", "Hangul syllables"},
    {"\xe0\xb8\xaa\xe0\xb8\xa7\xe0\xb8\xb1\xe0\xb8\xaa\xe0\xb8\x94\xe0\xb8\xb5", "\xe0\xb8\xaa\xe0\xb8\xa7\xe0\xb8\xb1\xe0\xb8\xaa\xe0\xb8\x94\xe0\xb8\xb5", "Thai"},
    {"Site \xd9\xa3\xd9\xa4", "site-\xd9\xa3\xd9\xa4", "Arabic-Indic digits"},
    {"Level \xe2\x85\xab", "level-\xe2\x85\xbb", "Roman numeral is a letter number, lower-cased"},
    {"\xc2\xbd price", "\xc2\xbd-price", "vulgar fraction has a numeric type"},
    {"\xe2\x91\xa0 first", "\xe2\x91\xa0-first", "circled digit has a numeric type"},
    // Symbols.
    {"C++ & C#", "c-c", "operators"},
    {"$100 \xe2\x82\xac", "100", "currency signs"},
    {"\xc2\xa9 2024 \xe2\x84\xa2", "2024", "copyright and trade mark"},
    {"a/b\\c.d:e", "a-b-c-d-e", "path punctuation"},
    {"tab\there\nnew", "tab-here-new", "control characters"},
    {"a\xc2\xa0" "b\xe2\x80\x83" "c", "a-b-c", "no-break and em spaces"},
    {"x\xe2\x80\x94y\xe2\x80\x93z", "x-y-z", "dashes"},
    // Emoji, each one cluster and one "-".
    {"I \xe2\x9d\xa4\xef\xb8\x8f PHP", "i-php", "emoji with variation selector"},
    {"a\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd" "b", "a-b", "emoji with skin tone"},
    {"\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x91\xa7 family", "family", "ZWJ sequence"},
    {"\xf0\x9f\x87\xab\xf0\x9f\x87\xb7 France", "france", "flag"},
    {"1\xef\xb8\x8f\xe2\x83\xa3 Top", "1\xef\xb8\x8f\xe2\x83\xa3-top", "keycap: first scalar is a digit, cluster kept whole"},
    {"\xf0\x9f\x9a\x80\xf0\x9f\x9a\x80\xf0\x9f\x9a\x80", "", "only emoji"},
};

class Slug : public ::testing::TestWithParam<SlugCase> {};

TEST_P(Slug, Table)
{
    const SlugCase& c = GetParam();
    EXPECT_EQ(AppModel::slug(QString::fromUtf8(c.input)).toStdString(), std::string(c.slug)) << c.why;
}

INSTANTIATE_TEST_SUITE_P(Names, Slug, ::testing::ValuesIn(kCases));

TEST(SlugRule, IsIdempotentAndNeverEdgedWithDashes)
{
    for (const SlugCase& c : kCases) {
        const QString once = AppModel::slug(QString::fromUtf8(c.input));
        EXPECT_EQ(AppModel::slug(once), once) << c.why;
        EXPECT_FALSE(once.startsWith(u'-') || once.endsWith(u'-') || once.contains(QStringLiteral("--"))) << c.why;
    }
}

TEST(SlugRule, LoneSurrogatesAreNotLetters)
{
    QString text = QStringLiteral("ab");
    text.insert(1, QChar(0xD800));
    EXPECT_EQ(AppModel::slug(text), "a-b");
}

} // namespace
