#include "support/ScriptedBrowser.h"

#include "platform/WebAuthenticationSession.h"
#include "support/TestCertificates.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>

namespace ScriptedBrowser {

QString install(const QString& folder, const QString& executable, const QString& logFile)
{
    const QString script = QDir(folder).filePath("browser.sh");
    TestFiles::writeFile(script,
                         "#!/bin/sh\n"
                         "exec >>'" + logFile.toUtf8() + "' 2>&1\n"
                         "location=$(curl -sS --cacert '" + TestCertificates::trusted().caFile.toUtf8() +
                             "' -o /dev/null -D - \"$1\" | tr -d '\\r' | sed -n 's/^[Ll]ocation: //p')\n"
                         "echo \"location $location\"\n"
                         "'" + executable.toUtf8() + "' --oauth-redirect \"$location\"\n"
                         "echo \"exit $?\"\n");
    QFile::setPermissions(script, QFile::permissions(script) | QFileDevice::ExeOwner);
    qputenv("KOVANI_BROWSER", script.toLocal8Bit());
    WebAuthenticationSession::setHandlerExecutable(executable);
    return script;
}

} // namespace ScriptedBrowser
