#pragma once

// Helpers for the workspace model's tests.

#include "app/AppConfig.h"

#include <QString>

namespace WorkspaceTestKit {

// A project named "Site" whose root is `root`.
inline Project projectAt(const QString& root)
{
    Project p;
    p.id = QStringLiteral("site");
    p.name = QStringLiteral("Site");
    p.root = root;
    return p;
}

} // namespace WorkspaceTestKit
