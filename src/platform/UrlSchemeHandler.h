#pragma once

#include <QString>

// Makes the application the desktop's handler of a URL scheme: a desktop entry in
// $XDG_DATA_HOME/applications whose Exec line runs `<executable> --oauth-redirect %u`, made the
// default handler of "x-scheme-handler/<scheme>" with `xdg-mime default`, or, without xdg-mime,
// by writing that one line into $XDG_CONFIG_HOME/mimeapps.list (keeping the file's other lines).
namespace UrlSchemeHandler {

// RFC 3986 scheme syntax: a letter, then letters, digits, "+", "-" or ".".
bool isValidScheme(const QString& scheme);

// "kovani-url-<scheme lower-cased>.desktop".
QString desktopFileName(const QString& scheme);

// The Exec value for `executable`, quoted and escaped for a desktop entry; empty when the path
// cannot be written there (a line break or another control character).
QString execLine(const QString& executable);

// Writes the entry and makes it the default; false (with a reason) when either step fails.
bool registerScheme(const QString& scheme, const QString& executable, QString* error = nullptr);

// The default handler entry for the scheme in a mimeapps.list text, or empty.
QString defaultHandlerIn(const QByteArray& mimeappsList, const QString& scheme);

// The xdg-mime program used (found on PATH by default). Tests set it; an empty path means
// "not installed", so the list is written directly.
void setXdgMimeForTesting(const QString& path);
void resetXdgMimeForTesting();

} // namespace UrlSchemeHandler
