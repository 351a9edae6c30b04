#pragma once

#include <QString>

// Project ids name the files of a website in the Logs and Routers folders.
namespace ProjectIds {

// Whether the id can name a file inside those folders: not empty, no "/", no "..", no leading ".".
bool isSafe(const QString& id);

// The status text for an id that is not safe.
QString refusal(const QString& id);

} // namespace ProjectIds
