#pragma once

#include <QString>

// Values a website creation derives once, when it is accepted.
namespace WebsiteCreation {

// The database field when it is not empty, else the trimmed website name; trimmed, slugged, "-"
// turned into "_", cut to 64 characters; "website" when nothing is left.
QString databaseName(const QString& databaseField, const QString& trimmedName);

// The folder named `slug` inside the parent folder, the parent made absolute first.
QString destination(const QString& parentDirectory, const QString& slug);

} // namespace WebsiteCreation
