#pragma once

#include <QString>
#include <optional>

// What the new-item sheet creates.
enum class CodeItemType { file, folder };

namespace CodeItemTypes {

// "File" or "Folder".
QString rawValue(CodeItemType type);
// Exactly "File" or "Folder"; nothing for any other text.
std::optional<CodeItemType> fromRawValue(const QString& raw);

} // namespace CodeItemTypes
