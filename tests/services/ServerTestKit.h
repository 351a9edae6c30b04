#pragma once

// Shared helpers of the website-server tests: a model in a temporary folder with the bundled PHP
// runtime selected, site folders, curl against loopback, and reading a process back from /proc.

#include "app/AppModel.h"
#include "platform/Dispatch.h"
#include "support/LiveProcesses.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <memory>

namespace ServerTestKit {

using TestFiles::writeFile;

// An executable script.
inline void writeScript(const QString& path, const QByteArray& body)
{
    writeFile(path, body);
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

// A runtime that waits until the file `gate` exists before it execs the bundled PHP: its server
// stays starting for as long as the test keeps the gate closed.
inline QString writeGatedPhp(const QString& path, const QString& gate)
{
    writeScript(path, QStringLiteral("#!/bin/sh\nwhile [ ! -e '%1' ]; do sleep 0.05; done\nexec %2 \"$@\"\n")
                          .arg(gate, BundledPhp::shellCommand())
                          .toUtf8());
    return path;
}

// The bundled runtime under `folder`/php (a symbolic link): a runtime that the application does
// not take for its own, so it gets neither "-d pcre.jit=0" nor the bundle's php.ini.
inline QString plainRuntime(const QString& folder)
{
    QDir().mkpath(folder);
    const QString link = folder + QStringLiteral("/php");
    QFile::remove(link);
    QFile::link(BundledPhp::binary(), link);
    return link;
}

inline QByteArray readFile(const QString& path)
{
    return TestFiles::readBytes(path);
}

// A site whose front controller prints "front:" and the script name and request URI.
inline QString makeSite(const QString& folder)
{
    writeFile(folder + QStringLiteral("/index.php"),
              "<?php echo 'front:', $_SERVER['SCRIPT_NAME'], ':', $_SERVER['REQUEST_URI'];\n");
    return folder;
}

inline Project makeProject(const QString& id, const QString& name, const QString& root, qint64 port)
{
    Project p;
    p.id = id;
    p.name = name;
    p.root = root;
    p.port = port;
    return p;
}

inline void selectRuntime(AppModel& model, const QString& binary, bool supported = true)
{
    model.setPhpVersions({PHPVersion{binary, supported ? QStringLiteral("8.5.2") : QStringLiteral("8.4.1"), supported}});
    model.modifyConfig([&](AppConfig& c) { c.selectedPhp = binary; });
}

struct Reply {
    int status = 0;
    QString contentType;
    QString location; // the Location header of a redirect, not followed
    QByteArray body;
};

// One GET through the real curl; the path is sent exactly as given.
inline Reply curl(qint64 port, const QString& path)
{
    QTemporaryDir dir;
    const QString bodyFile = dir.path() + QStringLiteral("/body");
    QProcess process;
    process.start(QStringLiteral("/usr/bin/curl"),
                  {QStringLiteral("-s"), QStringLiteral("--path-as-is"), QStringLiteral("--max-time"), QStringLiteral("10"),
                   QStringLiteral("-o"), bodyFile, QStringLiteral("-w"),
                   QStringLiteral("%{http_code}\n%{content_type}\n%{redirect_url}"),
                   QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path)});
    process.waitForFinished(15000);
    const QStringList out = QString::fromUtf8(process.readAllStandardOutput()).split(u'\n');
    Reply reply;
    reply.status = out.value(0).toInt();
    reply.contentType = out.value(1);
    reply.location = out.value(2);
    reply.body = readFile(bodyFile);
    return reply;
}

inline QStringList procCmdline(qint32 pid)
{
    return LiveProcesses::commandLine(pid);
}

inline QString procCwd(qint32 pid)
{
    return QFile::symLinkTarget(QStringLiteral("/proc/%1/cwd").arg(pid));
}

inline QMap<QString, QString> procEnviron(qint32 pid)
{
    QMap<QString, QString> env;
    for (const QByteArray& piece : readFile(QStringLiteral("/proc/%1/environ").arg(pid)).split('\0')) {
        const qsizetype eq = piece.indexOf('=');
        if (eq > 0)
            env.insert(QString::fromLocal8Bit(piece.left(eq)), QString::fromLocal8Bit(piece.mid(eq + 1)));
    }
    return env;
}

using LiveProcesses::launchedMentioning;
// Pids of live processes whose command line mentions `text`.
inline QList<qint32> processesMentioning(const QString& text)
{
    return LiveProcesses::mentioning(text);
}

// PHP's own server on `root` without a router: the runtime, arguments and environment the model
// starts its website servers with, workers included. Stopped with its workers when it goes.
class BareServer {
public:
    BareServer(const AppModel& model, const QString& binary, const QString& root)
        : port(TestEnvironment::freePort())
    {
        Process::Spec spec;
        spec.program = binary;
        spec.arguments = model.phpRuntimeArguments({"-S", QStringLiteral("127.0.0.1:%1").arg(port), "-t", root}, binary);
        spec.environment = model.serverEnvironment(binary);
        spec.workingDirectory = root;
        spec.newProcessGroup = true;
        QString error;
        m_server = ChildProcess::launch(spec, {}, &error);
        EXPECT_TRUE(m_server) << error.toStdString();
    }
    ~BareServer()
    {
        if (!m_server)
            return;
        ::kill(-m_server->pid(), SIGTERM);
        if (!m_server->waitForExit(std::chrono::steady_clock::now() + std::chrono::seconds(10)))
            ::kill(-m_server->pid(), SIGKILL);
    }
    BareServer(const BareServer&) = delete;
    BareServer& operator=(const BareServer&) = delete;

    // Whether it answers HTTP.
    bool waitListening() const
    {
        return TestEnvironment::waitUntil([this] { return curl(port, "/").status != 0; }, 30000);
    }

    const quint16 port;

private:
    std::shared_ptr<ChildProcess> m_server;
};

// A model in its own temporary storage folder with the bundled runtime selected (`php`).
class ServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        platform = TestEnvironment::makePlatform(dir.path());
        model = std::make_unique<AppModel>(platform.platform);
        selectRuntime(*model, php);
    }

    void TearDown() override
    {
        if (model)
            model->shutdown();
        // Exit handlers and probes of this test end before the model goes.
        EXPECT_TRUE(Dispatch::drainForTesting());
    }

    QString path(const QString& relative) const { return dir.path() + u'/' + relative; }

    // Waits until the children are reaped and their exit handlers have returned (the list holds
    // the only references left: the watcher and the model have let them go), then until the work
    // those handlers handed to the main thread has run. Keep no other reference to them.
    static bool waitHandled(QList<std::shared_ptr<ChildProcess>> children, int timeoutMs = 30000)
    {
        const bool done = TestEnvironment::waitUntil([&] {
            for (const std::shared_ptr<ChildProcess>& child : std::as_const(children)) {
                if (child && (child->isRunning() || child.use_count() > 1))
                    return false;
            }
            return true;
        }, timeoutMs);
        return done && Dispatch::drainForTesting();
    }

    bool waitRunning(const QString& id, int timeoutMs = 30000)
    {
        return TestEnvironment::waitUntil([&] { return model->isRunning(id); }, timeoutMs);
    }

    bool waitStopped(const QString& id, int timeoutMs = 30000)
    {
        return TestEnvironment::waitUntil([&] { return !model->isRunning(id) && !model->isStarting(id); }, timeoutMs);
    }

    QTemporaryDir dir;
    TestEnvironment::TestPlatform platform;
    const QString php = BundledPhp::binary();
    std::unique_ptr<AppModel> model;
};

} // namespace ServerTestKit
