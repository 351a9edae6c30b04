#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

// The sections of the sidebar, in sidebar order.
enum class AppSection { dashboard, projects, settings, guide, dravix };

namespace AppSections {

QList<AppSection> allCases();
// The title, which is also the identity.
QString rawValue(AppSection section);
QString id(AppSection section);
// Exactly one of the five titles, compared whole and case-sensitive; anything else is no section.
std::optional<AppSection> fromRawValue(const QString& text);
// The line under the title in the top bar.
QString subtitle(AppSection section);
// The system symbol of the sidebar row; empty for dravix, whose row shows the logo.
QString iconName(AppSection section);

} // namespace AppSections

// Hash of a section is the hash of its title.
size_t qHash(AppSection section, size_t seed = 0) noexcept;
