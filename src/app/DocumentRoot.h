#pragma once

#include <QString>

namespace DocumentRoot {

// AppModel::resolvedDocumentRoot with `current` as the current folder, for callers that resolve
// many folders and ask for the current folder once.
QString resolvedIn(const QString& folder, const QString& current);

} // namespace DocumentRoot
