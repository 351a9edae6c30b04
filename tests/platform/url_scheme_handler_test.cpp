// Making the entry the scheme's default handler: through xdg-mime when it does so, else by
// writing the line into mimeapps.list.
#include "platform/UrlSchemeHandler.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(UrlSchemeHandler, XdgMimeThatSucceedsMakesTheDefaultElseTheListIsWritten)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    TestEnvironment::ScopedEnvironment environment;
    environment.set("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toLocal8Bit());
    environment.set("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toLocal8Bit());
    const QString list = dir.filePath(QStringLiteral("config/mimeapps.list"));
    const QString received = dir.filePath(QStringLiteral("received"));

    struct Case {
        const char* name;
        QByteArray script; // empty: no such program
        bool executable = true;
        bool listWritten = true;
    };
    const Case cases[] = {
        {"succeeds", "#!/bin/sh\n{ printf '%s\\n' \"$@\"; cat; } > '" + received.toUtf8() + "'\n", true, false},
        {"fails", "#!/bin/sh\nexit 3\n"},
        {"is killed", "#!/bin/sh\nkill -KILL $$\n"},
        {"is missing", QByteArray()},
        {"cannot run", "#!/bin/sh\nexit 0\n", false},
    };
    for (const Case& c : cases) {
        QFile::remove(list);
        QFile::remove(received);
        const QString program = dir.filePath(QStringLiteral("xdg-mime-%1").arg(QString::fromLatin1(c.name).replace(u' ', u'-')));
        if (!c.script.isEmpty()) {
            TestFiles::writeFile(program, c.script);
            QFile::setPermissions(program, c.executable ? QFileDevice::ReadOwner | QFileDevice::ExeOwner
                                                        : QFileDevice::ReadOwner);
        }
        UrlSchemeHandler::setXdgMimeForTesting(program);
        QString error;
        EXPECT_TRUE(UrlSchemeHandler::registerScheme(QStringLiteral("x.y"), QStringLiteral("/usr/bin/kovani"), &error))
            << c.name << ": " << error.toStdString();
        EXPECT_EQ(QFile::exists(list), c.listWritten) << c.name;
        if (c.listWritten)
            EXPECT_EQ(TestFiles::readText(list), "[Default Applications]\nx-scheme-handler/x.y=kovani-url-x.y.desktop;\n")
                << c.name;
        else
            // Its arguments, and nothing on its standard input.
            EXPECT_EQ(TestFiles::readText(received), "default\nkovani-url-x.y.desktop\nx-scheme-handler/x.y\n") << c.name;
    }
    UrlSchemeHandler::resetXdgMimeForTesting();
}
