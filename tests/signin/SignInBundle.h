#pragma once

// A bundle folder (Contents/Info.plist, Contents/Resources/GoogleService-Info.plist) written by
// the build's own generator script for the given client IDs.
#include <QDir>
#include <QProcess>
#include <QString>

namespace SignInBundle {

// Returns the Resources folder, or empty when the generator failed.
inline QString write(const QString& bundleDir, const QString& clientId, const QString& serverClientId = {})
{
    const QString resources = bundleDir + QStringLiteral("/Contents/Resources");
    QDir().mkpath(resources);
    QProcess cmake;
    cmake.start(QStringLiteral("cmake"),
                {QStringLiteral("-DKOVANI_GOOGLE_CLIENT_ID=") + clientId,
                 QStringLiteral("-DKOVANI_GOOGLE_SERVER_CLIENT_ID=") + serverClientId,
                 QStringLiteral("-DKOVANI_BUNDLE_DIR=") + bundleDir, QStringLiteral("-DKOVANI_RESOURCES_DIR=") + resources,
                 QStringLiteral("-P"),
                 QStringLiteral(KOVANI_TEST_SOURCE_DIR "/../cmake/GoogleSignInConfiguration.cmake")});
    if (!cmake.waitForFinished(30000) || cmake.exitStatus() != QProcess::NormalExit || cmake.exitCode() != 0)
        return {};
    return resources;
}

} // namespace SignInBundle
