#pragma once

// Screenshots of widgets under $KOVANI_SCREENSHOT_DIR (or a folder of the temporary directory).

#include "platform/Dispatch.h"

#include <QDir>
#include <QString>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

namespace Screenshots {

inline QString folder()
{
    QString dir = qEnvironmentVariable("KOVANI_SCREENSHOT_DIR");
    if (dir.isEmpty())
        dir = QDir::tempPath() + QStringLiteral("/kovani-screenshots");
    QDir().mkpath(dir);
    return dir;
}

// Saves `widget` as <name>.png; the test fails when it cannot be saved.
inline void save(QWidget& widget, const QString& name)
{
    // Layout settles over a few posted events (the scroll bar appears, the width changes).
    ASSERT_TRUE(Dispatch::drainForTesting());
    const QString path = folder() + u'/' + name + QStringLiteral(".png");
    ASSERT_TRUE(widget.grab().save(path)) << path.toStdString();
}

} // namespace Screenshots
