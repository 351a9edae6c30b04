#include "workspace/CodeItemType.h"

namespace CodeItemTypes {

QString rawValue(CodeItemType type)
{
    return type == CodeItemType::folder ? QStringLiteral("Folder") : QStringLiteral("File");
}

std::optional<CodeItemType> fromRawValue(const QString& raw)
{
    if (raw == QLatin1String("File"))
        return CodeItemType::file;
    if (raw == QLatin1String("Folder"))
        return CodeItemType::folder;
    return std::nullopt;
}

} // namespace CodeItemTypes
