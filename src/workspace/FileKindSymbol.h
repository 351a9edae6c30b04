#pragma once

#include <QString>

// The symbol that stands for a file's kind, in the file tree and in the editor's header alike,
// by the lower-cased extension of its name.
namespace FileKindSymbol {

// "doc.text" for a name with no extension of a known kind (and for an empty name).
QString forFileName(const QString& fileName);

} // namespace FileKindSymbol
