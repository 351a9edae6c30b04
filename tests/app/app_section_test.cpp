#include "app/AppSection.h"

#include <QHash>
#include <QSet>
#include <gtest/gtest.h>

TEST(AppSection, CasesInSidebarOrderWithTitlesAndSymbols)
{
    struct Row {
        AppSection section;
        const char* title;
        const char* icon;
    };
    const Row rows[] = {
        {AppSection::dashboard, "Dashboard", "square.grid.2x2"},
        {AppSection::projects, "Projects", "folder"},
        {AppSection::settings, "Settings", "gearshape"},
        {AppSection::guide, "Guide", "book"},
        {AppSection::dravix, "Dravix", ""},
    };
    const QList<AppSection> all = AppSections::allCases();
    ASSERT_EQ(all.size(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(all[i], rows[i].section);
        EXPECT_EQ(AppSections::rawValue(rows[i].section), QString::fromLatin1(rows[i].title));
        EXPECT_EQ(AppSections::id(rows[i].section), QString::fromLatin1(rows[i].title));
        EXPECT_EQ(AppSections::iconName(rows[i].section), QString::fromLatin1(rows[i].icon));
        EXPECT_FALSE(AppSections::subtitle(rows[i].section).isEmpty());
        EXPECT_FALSE(AppSections::subtitle(rows[i].section).contains(u'\n'));
    }
    EXPECT_EQ(AppSections::subtitle(AppSection::dashboard), QStringLiteral("Overview, quick actions and setup guide"));
    EXPECT_EQ(AppSections::subtitle(AppSection::projects),
              QStringLiteral("Create and run local websites on independent ports"));
    EXPECT_EQ(AppSections::subtitle(AppSection::settings), QStringLiteral("PHP, database and phpAdmin configuration"));
}

TEST(AppSection, FromRawValueAcceptsExactlyTheFiveTitles)
{
    for (const AppSection section : AppSections::allCases())
        EXPECT_EQ(AppSections::fromRawValue(AppSections::rawValue(section)), section);
    for (const char* text : {"dashboard", "", "DASHBOARD", " Dashboard", "Dashboard ", "Guide\n", "Dravi", "Account"})
        EXPECT_FALSE(AppSections::fromRawValue(QString::fromUtf8(text)).has_value()) << text;
    EXPECT_FALSE(AppSections::fromRawValue(QStringLiteral("Settings") + QChar(0)).has_value());
}

TEST(AppSection, HashIsTheHashOfTheTitle)
{
    for (const AppSection section : AppSections::allCases())
        EXPECT_EQ(qHash(section, 7), qHash(AppSections::rawValue(section), 7));
    const QList<AppSection> all = AppSections::allCases();
    const QSet<AppSection> set(all.begin(), all.end());
    EXPECT_EQ(set.size(), 5);
}
