#pragma once

// A browser for whole authorizations: a `browser.sh` that fetches the authorization URL with
// curl (trusting the test CA), takes the redirect's Location and starts `executable
// --oauth-redirect <location>`, as the system does for the app's URL scheme.

#include <QString>

namespace ScriptedBrowser {

// Writes `folder`/browser.sh, appending its output to `logFile`, makes it the browser
// (KOVANI_BROWSER) and `executable` the URL scheme's handler. Returns the script's path.
QString install(const QString& folder, const QString& executable, const QString& logFile);

} // namespace ScriptedBrowser
