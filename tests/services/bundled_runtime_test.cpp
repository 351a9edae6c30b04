// Website servers on the bundled PHP 8.5 runtime as the application starts them: workers, the
// PATH of their pages, the runtime's settings and the user's own ini files.
#include "services/ServerTestKit.h"

#include <QTcpSocket>

#include <sys/stat.h>
#include <utime.h>

using namespace ServerTestKit;
using TestEnvironment::freePort;
using TestEnvironment::waitUntil;

namespace {

class BundledRuntime : public ServerTest {
protected:
    // Starts a website on `root` and waits until it runs.
    Project start(const QString& id, const QString& root)
    {
        const Project p = makeProject(id, id, root, freePort());
        model->startInternal(p);
        EXPECT_TRUE(waitRunning(id)) << model->statusMessage().toStdString();
        return p;
    }
    QString log(const QString& id) const { return QString::fromUtf8(readFile(model->logsURL() + u'/' + id + QStringLiteral(".log"))); }
    QString router(const QString& id) const { return model->routersURL() + u'/' + id + QStringLiteral("-router.php"); }
};

// Sets a file's modification time `secondsAgo` seconds in the past.
void age(const QString& file, int secondsAgo)
{
    const time_t when = ::time(nullptr) - secondsAgo;
    const utimbuf times{when, when};
    ASSERT_EQ(::utime(QFile::encodeName(file).constData(), &times), 0);
}

} // namespace

TEST_F(BundledRuntime, APageThatRequestsItsOwnWebsiteIsAnswered)
{
    // WordPress's loopback requests (Site Health, cron, the plugin editor) work like this: a
    // server answering one request at a time would wait for itself until the page's time-out.
    const QString root = path("loop");
    writeFile(root + "/index.php", "<?php\n"
                                   "$context = stream_context_create(['http' => ['timeout' => 20]]);\n"
                                   "$inner = @file_get_contents('http://127.0.0.1:' . $_SERVER['SERVER_PORT'] . '/inner.php', false, $context);\n"
                                   "echo 'outer:', $inner === false ? 'no answer' : $inner;\n");
    writeFile(root + "/inner.php", "<?php echo 'inner from ', getmypid();");
    const Project p = start("loop", root);
    const Reply reply = curl(p.port, "/");
    EXPECT_EQ(reply.status, 200);
    EXPECT_TRUE(reply.body.startsWith("outer:inner from ")) << reply.body.toStdString();
}

TEST_F(BundledRuntime, WorkersAreOneServerForEveryWayOfStopping)
{
    QList<Project> projects;
    for (const char* id : {"w1", "w2", "w3"})
        projects.append(makeProject(id, id, makeSite(path(id)), freePort()));
    model->modifyConfig([&](AppConfig& c) { c.projects = projects; });
    const QList<std::pair<const char*, std::function<void(const QString& id)>>> ways = {
        {"stop", [this](const QString& id) { model->stopProcess(id); }},
        {"stop all", [this](const QString&) { model->stopAllProjects(); }},
        {"quit", [this](const QString&) { model->shutdown(); }},
    };
    int n = 0;
    for (const auto& [label, stop] : ways) {
        SCOPED_TRACE(label);
        const Project& p = projects[n++];
        model->startInternal(p);
        ASSERT_TRUE(waitRunning(p.id)) << model->statusMessage().toStdString();
        const qint32 pid = model->runningProjects().value(p.id);
        // The server forks its workers once it listens: its children, in its process group.
        QList<qint32> all;
        EXPECT_TRUE(waitUntil([&] {
            all = processesMentioning(router(p.id));
            return all.size() == 1 + kServerWorkers;
        })) << all.size();
        EXPECT_EQ(launchedMentioning(router(p.id)), QList<qint32>{pid});
        for (qint32 worker : all) {
            const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(worker));
            const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
            EXPECT_EQ(fields.value(2).toInt(), pid) << "process group of " << worker;
        }
        EXPECT_EQ(curl(p.port, "/").status, 200);

        stop(p.id);
        EXPECT_FALSE(model->isRunning(p.id));
        for (qint32 process : all)
            EXPECT_FALSE(Process::exists(process)) << process;
        EXPECT_TRUE(processesMentioning(router(p.id)).isEmpty());
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, p.port);
        EXPECT_FALSE(probe.waitForConnected(500)) << "nothing listens on the port any more";
    }
}

TEST_F(BundledRuntime, PhpRunFromAPageIsTheBundledRuntime)
{
    const QString root = path("cli");
    // A page that runs `php`, and a script whose first line asks for `/usr/bin/env php`.
    writeFile(root + "/index.php", "<?php echo shell_exec('php -r \"echo PHP_VERSION;\" 2>&1'), '|', "
                                   "shell_exec(escapeshellarg(__DIR__ . '/tool') . ' 2>&1'), '|', "
                                   "shell_exec('php -r \"echo php_ini_loaded_file();\" 2>&1');");
    writeScript(root + "/tool", "#!/usr/bin/env php\n<?php echo PHP_VERSION;");
    const Project p = start("cli", root);
    const QString version = BundledPhp::version();
    ASSERT_TRUE(version.startsWith(QStringLiteral("8.5."))) << version.toStdString();
    EXPECT_EQ(QString::fromUtf8(curl(p.port, "/").body), version + u'|' + version + u'|' + BundledPhp::ini());
}

TEST_F(BundledRuntime, ErrorsReachThePageAndTheLog)
{
    const QString root = path("errors");
    writeFile(root + "/index.php", "<?php echo 'front';");
    writeFile(root + "/fatal.php", "<?php echo 'before the error '; kovani_no_such_function();");
    // A warning printed before a redirect: the buffered output lets the redirect through.
    writeFile(root + "/redirect.php", "<?php echo $kovani_undefined_variable; header('Location: /elsewhere'); exit;");
    // Deprecated in PHP 8.1: older software is full of these.
    writeFile(root + "/deprecated.php", "<?php echo strlen(null), ' after the deprecation';");
    const Project p = start("errors", root);

    const Reply fatal = curl(p.port, "/fatal.php");
    EXPECT_TRUE(fatal.body.contains("before the error ")) << fatal.body.toStdString();
    EXPECT_TRUE(fatal.body.contains("Fatal error")) << fatal.body.toStdString();
    EXPECT_TRUE(fatal.body.contains("kovani_no_such_function()")) << fatal.body.toStdString();
    EXPECT_TRUE(waitUntil([&] { return log(p.id).contains("PHP Fatal error:  Uncaught Error: Call to undefined function kovani_no_such_function()"); }))
        << log(p.id).toStdString();

    const Reply redirect = curl(p.port, "/redirect.php");
    EXPECT_EQ(redirect.status, 302);
    EXPECT_EQ(redirect.location, QStringLiteral("http://127.0.0.1:%1/elsewhere").arg(p.port));
    EXPECT_TRUE(waitUntil([&] { return log(p.id).contains("Undefined variable $kovani_undefined_variable"); }))
        << log(p.id).toStdString();

    const Reply deprecated = curl(p.port, "/deprecated.php");
    EXPECT_EQ(deprecated.body, QByteArray("0 after the deprecation"));
    // The log has the request's own line once it has been answered.
    EXPECT_TRUE(waitUntil([&] { return log(p.id).contains("[200]: GET /deprecated.php"); })) << log(p.id).toStdString();
    EXPECT_FALSE(log(p.id).contains("Deprecated")) << log(p.id).toStdString();
}

TEST_F(BundledRuntime, ASavedFileIsServedAtTheNextRequest)
{
    const QString root = path("fresh");
    writeFile(root + "/index.php", "<?php echo 'first version';");
    // Older than the compiler's guard against files still being written, so it is cached.
    age(root + "/index.php", 3600);
    const Project p = start("fresh", root);
    EXPECT_EQ(curl(p.port, "/").body, QByteArray("first version"));
    EXPECT_EQ(curl(p.port, "/").body, QByteArray("first version"));

    writeFile(root + "/index.php", "<?php echo 'second version';");
    age(root + "/index.php", 1800);
    EXPECT_EQ(curl(p.port, "/").body, QByteArray("second version"));
}

TEST_F(BundledRuntime, TheUsersIniFilesAreReadAfterTheBundlesOwn)
{
    const QString folder = model->phpUserIniFolder();
    EXPECT_EQ(folder, model->appSupport() + QStringLiteral("/PHP"));
    EXPECT_TRUE(QFileInfo(folder).isDir()) << "made with the storage folder";
    EXPECT_TRUE(QDir(folder).isEmpty());
    // With the folder empty the runtime gets only its own arguments.
    EXPECT_EQ(model->phpRuntimeArguments({"-S", "127.0.0.1:8080"}, php), (QStringList{"-d", "pcre.jit=0", "-S", "127.0.0.1:8080"}));

    // A module of the runtime that the bundle's ini leaves off, settings over the bundle's (one
    // of them in a later file over an earlier one), and files that are not read.
    writeFile(folder + "/20-apcu.ini", "; the user's cache\nextension = apcu\napc.enable_cli = 1\nmemory_limit = 321M\n");
    writeFile(folder + "/10-first.ini", "[PHP]\nupload_max_filesize = 1M\nmemory_limit = 5M\n");
    writeFile(folder + "/30-reporting.ini", "error_reporting = E_ALL & ~E_NOTICE & ~E_DEPRECATED\r\n");
    writeFile(folder + "/notes.txt", "memory_limit = 7M\n");
    writeFile(folder + "/40-too-long.ini", "memory_limit = 9M\n; " + QByteArray(70 * 1024, 'x') + "\n");
    const QString root = path("ini");
    writeFile(root + "/index.php", "<?php echo ini_get('memory_limit'), '|', extension_loaded('apcu') ? 'apcu' : 'no apcu', '|', "
                                   "ini_get('upload_max_filesize'), '|', "
                                   "error_reporting() === (E_ALL & ~E_NOTICE & ~E_DEPRECATED) ? 'reporting' : error_reporting(), '|', "
                                   "ini_get('pcre.jit'), '|', php_ini_loaded_file();");
    const Project p = start("ini", root);
    EXPECT_EQ(QString::fromUtf8(curl(p.port, "/").body),
              QStringLiteral("321M|apcu|1M|reporting|0|") + BundledPhp::ini());
    EXPECT_FALSE(log(p.id).contains("Warning")) << log(p.id).toStdString();

    // Another runtime keeps its own configuration: nothing of the folder is passed to it.
    EXPECT_EQ(model->phpRuntimeArguments({"-v"}, plainRuntime(path("bin"))), QStringList{"-v"});
}
