#pragma once

#include <QString>
#include <QStringList>

// The private MariaDB server started by the CTest fixture "mariadb" (tests/support/
// mariadb-fixture.sh); its folder is in KOVANI_MARIADB_DIR. Root starts without a password;
// a separate admin account reached through the socket can always reset it.
namespace MariaDbFixture {

struct Result {
    int status = -1;
    QString output;
    bool ok() const { return status == 0; }
};

// The fixture folder, or empty when the fixture is not configured.
QString dir();
// Whether the fixture server answers.
bool available();
// The TCP port on 127.0.0.1.
quint16 port();
// The start/stop script itself (for tests that start a second private server).
QString script();

// Runs SQL through the admin account (never affected by changes to root).
Result runAdminSql(const QString& sql);
// Runs SQL over TCP as `user` with `password`, as the application does.
Result runSqlAs(const QString& user, const QString& password, const QString& sql);
// Whether `user`/`password` can log in over TCP.
bool canLogin(const QString& user, const QString& password);
// Sets root@localhost to `password` (empty: no password).
void resetRootPassword(const QString& password = QString());
// SHOW DATABASES through the admin account.
QStringList databases();
void dropDatabase(const QString& name);

// Starts or stops another private server in `folder` with the same script.
bool startServer(const QString& folder);
void stopServer(const QString& folder);
quint16 portIn(const QString& folder);

} // namespace MariaDbFixture
