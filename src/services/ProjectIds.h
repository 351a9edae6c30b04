#pragma once

#include <QString>

// Project ids name the files of a website in the Logs and Routers folders.
namespace ProjectIds {

// Whether the id can name a file inside those folders: not empty, no "/", no "..", no leading ".".
bool isSafe(const QString& id);

// The status text for an id that is not safe.
QString refusal(const QString& id);

// The start of the website's file names: "<stem>.log" and "<stem>-router.php". The id itself
// when those names, and the temporary name that replaces the router script, fit the file
// system's name limit; otherwise its longest start that fits, followed by "-" and a digest of
// the whole id, so that different ids keep different files.
QString fileStem(const QString& id);

} // namespace ProjectIds
