#include "support/MariaDbFixture.h"

#include <QFile>
#include <QProcess>

namespace MariaDbFixture {
namespace {

QString readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll()).trimmed();
}

Result runProgram(const QString& program, const QStringList& arguments, int timeoutMs = 60000)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForStarted(10000))
        return {-1, process.errorString()};
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return {-1, QStringLiteral("timed out")};
    }
    Result result;
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = QString::fromUtf8(process.readAll());
    return result;
}

QString quoted(const QString& value)
{
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

} // namespace

QString dir()
{
    return qEnvironmentVariable("KOVANI_MARIADB_DIR");
}

quint16 port()
{
    return portIn(dir());
}

quint16 portIn(const QString& folder)
{
    bool ok = false;
    const uint value = readFile(folder + QStringLiteral("/port")).toUInt(&ok);
    return ok && value < 65536 ? quint16(value) : 0;
}

QString script()
{
    return QStringLiteral(KOVANI_TEST_SOURCE_DIR) + QStringLiteral("/support/mariadb-fixture.sh");
}

bool available()
{
    if (dir().isEmpty() || port() == 0)
        return false;
    return runAdminSql(QStringLiteral("SELECT 1;")).ok();
}

Result runAdminSql(const QString& sql)
{
    const QString folder = dir();
    return runProgram(QStringLiteral("/usr/bin/mysql"),
                      {QStringLiteral("--no-defaults"), QStringLiteral("--protocol=socket"),
                       QStringLiteral("--socket=") + folder + QStringLiteral("/mysqld.sock"),
                       QStringLiteral("--user=") + readFile(folder + QStringLiteral("/admin-user")),
                       QStringLiteral("--password=") + readFile(folder + QStringLiteral("/admin-password")),
                       QStringLiteral("--batch"), QStringLiteral("--raw"), QStringLiteral("--skip-column-names"), QStringLiteral("-e"), sql});
}

Result runSqlAs(const QString& user, const QString& password, const QString& sql)
{
    return runProgram(QStringLiteral("/usr/bin/mysql"),
                      {QStringLiteral("--no-defaults"), QStringLiteral("--host=127.0.0.1"), QStringLiteral("--protocol=tcp"),
                       QStringLiteral("--port=") + QString::number(port()), QStringLiteral("--user=") + user,
                       QStringLiteral("--password=") + password, QStringLiteral("--batch"), QStringLiteral("--raw"),
                       QStringLiteral("--skip-column-names"), QStringLiteral("-e"), sql});
}

bool canLogin(const QString& user, const QString& password)
{
    const Result result = runSqlAs(user, password, QStringLiteral("SELECT CURRENT_USER();"));
    return result.ok() && result.output.trimmed() == user + QStringLiteral("@localhost");
}

void resetRootPassword(const QString& password)
{
    runAdminSql(QStringLiteral("ALTER USER 'root'@'localhost' IDENTIFIED BY %1; FLUSH PRIVILEGES;").arg(quoted(password)));
}

QStringList databases()
{
    const Result result = runAdminSql(QStringLiteral("SHOW DATABASES;"));
    return result.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void dropDatabase(const QString& name)
{
    QString escaped = name;
    escaped.replace(QLatin1Char('`'), QStringLiteral("``"));
    runAdminSql(QStringLiteral("DROP DATABASE IF EXISTS `%1`;").arg(escaped));
}

bool startServer(const QString& folder)
{
    return runProgram(QStringLiteral("/bin/bash"), {script(), QStringLiteral("start"), folder}, 120000).ok();
}

void stopServer(const QString& folder)
{
    runProgram(QStringLiteral("/bin/bash"), {script(), QStringLiteral("stop"), folder}, 60000);
}

} // namespace MariaDbFixture
