#pragma once

#include "platform/ToolPaths.h"

#include <QString>
#include <optional>

// Where Homebrew is missing, a MySQL server of the user's own stands in for the Homebrew service:
// data folder "MySQL" in the storage folder, made once so that root has an empty password over
// TCP, then started detached on the configured host and port with its socket and pid file in the
// storage folder and its log in "Logs/mysql.log". It outlives the application, like a service.
namespace PrivateMySQLServer {

// Shown as the database line when there is neither Homebrew nor a server program.
inline const QString kMissingServerText = QStringLiteral("mySQL server not found. Install mariadb-server or Homebrew.");

struct Request {
    ToolPaths tools;
    QString storageRoot; // the storage folder; nothing happens without one
    QString host;
    qint64 port = 0;
    int readyTimeoutMs = 30000; // how long a started server may take to accept connections
};

// The server program: "mariadbd", then "mysqld", from the tool table.
std::optional<QString> serverBinary(const ToolPaths& tools);

enum class Outcome {
    alreadyAnswering, // something accepts connections on the port: nothing is started
    started,          // a server was started and accepts connections
    failed,           // initialising or starting failed (see Logs/mysql.log)
    notApplicable,    // no storage folder, or the host is not this machine
};

// Blocking; background threads only. Starts the server unless something already accepts
// connections on host:port; creates the data folder first when it is missing (a folder whose
// initialisation failed is removed, so the next call tries again). Calls are serialised.
Outcome ensureRunning(const Request& request);

// Whether something accepts TCP connections on host:port within `timeoutMs`.
bool answersOn(const QString& host, qint64 port, int timeoutMs);

} // namespace PrivateMySQLServer
