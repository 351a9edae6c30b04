#include "app/AppSection.h"

#include <QHash>

namespace AppSections {

QList<AppSection> allCases()
{
    return {AppSection::dashboard, AppSection::projects, AppSection::settings, AppSection::guide, AppSection::dravix};
}

QString rawValue(AppSection section)
{
    switch (section) {
    case AppSection::dashboard: return QStringLiteral("Dashboard");
    case AppSection::projects: return QStringLiteral("Projects");
    case AppSection::settings: return QStringLiteral("Settings");
    case AppSection::guide: return QStringLiteral("Guide");
    case AppSection::dravix: return QStringLiteral("Dravix");
    }
    return QString();
}

QString id(AppSection section) { return rawValue(section); }

std::optional<AppSection> fromRawValue(const QString& text)
{
    for (const AppSection section : allCases()) {
        if (rawValue(section) == text)
            return section;
    }
    return std::nullopt;
}

QString subtitle(AppSection section)
{
    switch (section) {
    case AppSection::dashboard: return QStringLiteral("Overview, quick actions and setup guide");
    case AppSection::projects: return QStringLiteral("Create and run local websites on independent ports");
    case AppSection::settings: return QStringLiteral("PHP, database and phpAdmin configuration");
    case AppSection::guide: return QStringLiteral("How to use Kovani, setup commands and troubleshooting");
    case AppSection::dravix: return QStringLiteral("Your profile, account and support from Dravix");
    }
    return QString();
}

QString iconName(AppSection section)
{
    switch (section) {
    case AppSection::dashboard: return QStringLiteral("square.grid.2x2");
    case AppSection::projects: return QStringLiteral("folder");
    case AppSection::settings: return QStringLiteral("gearshape");
    case AppSection::guide: return QStringLiteral("book");
    case AppSection::dravix: return QString();
    }
    return QString();
}

} // namespace AppSections

size_t qHash(AppSection section, size_t seed) noexcept
{
    return qHash(AppSections::rawValue(section), seed);
}
