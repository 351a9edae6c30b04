#pragma once

#include "app/AppConfig.h"

#include <QByteArray>

#include <optional>

// Reads config.json straight into the records, in one pass over the text and without building a
// document first. The rules are ConfigCoding::decode's: every key of AppConfig but "user" required
// with its JSON type; a project's "databaseName", "databaseUser" and "databasePassword" and a
// profile's "passwordHash", "provider" and "apiToken" may be missing or null; integers within
// signed 64 bits; strict UTF-8; unknown keys ignored; and an object that holds a key twice makes
// the whole file unreadable (a parser would keep one of the values silently).
std::optional<AppConfig> readConfig(const QByteArray& bytes);
