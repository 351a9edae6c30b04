// The document root of a website folder.
#include "app/DocumentRoot.h"

#include "app/AppModel.h"

#include <QDir>
#include <QFileInfo>

QString DocumentRoot::resolvedIn(const QString& folder, const QString& current)
{
    // Standardized as a directory URL: relative to the current folder, "." and ".." resolved
    // (".." above the root stays at the root), no trailing slash.
    QString standardized = QDir::cleanPath(QDir::isAbsolutePath(folder) ? folder : QDir(current).absoluteFilePath(folder));
    while (standardized == QStringLiteral("/..") || standardized.startsWith(QStringLiteral("/../")))
        standardized = standardized.size() == 3 ? QStringLiteral("/") : standardized.mid(3);
    const QString base = standardized.endsWith(u'/') ? standardized : standardized + u'/';
    const QString publicFolder = base + QStringLiteral("public");
    if (QFileInfo::exists(base + QStringLiteral("artisan")) && QFileInfo::exists(publicFolder + QStringLiteral("/index.php")))
        return publicFolder;
    return standardized;
}

QString AppModel::resolvedDocumentRoot(const QString& folder)
{
    return DocumentRoot::resolvedIn(folder, QDir::currentPath());
}
