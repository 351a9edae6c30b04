// Website servers against real PHP built-in servers on free loopback ports.
#include "services/PHPDevelopmentRouter.h"
#include "services/MySQLTestKit.h"
#include "platform/Text.h"
#include "services/ServerTestKit.h"

#include <QElapsedTimer>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <csignal>
#include <limits>

using namespace ServerTestKit;
using TestEnvironment::freePort;
using TestEnvironment::waitUntil;

namespace {

class ProjectServers : public ServerTest {};

// A stand-in PHP that listens on the "-S" address and exits with the status a client sends.
QString writeExitingPhp(const QString& path)
{
    writeScript(path,
              "#!/bin/sh\n"
              "exec " + BundledPhp::shellCommand().toUtf8() + " -r '$s = stream_socket_server(\"tcp://\" . $argv[1]);\n"
              "while (true) { $c = @stream_socket_accept($s, 30); if (!$c) continue;\n"
              "  $line = fgets($c); if ($line !== false && trim($line) !== \"\") exit((int) trim($line)); fclose($c); }' -- \"$2\"\n");
    return path;
}

// Sends one line to 127.0.0.1:port.
void sendLine(quint16 port, const QByteArray& line)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(socket.waitForConnected(3000));
    socket.write(line + '\n');
    socket.waitForBytesWritten(3000);
    socket.disconnectFromHost();
}

} // namespace

TEST_F(ProjectServers, StartGoesFromStartingToRunningWithThePid)
{
    const QString root = makeSite(path("site"));
    const quint16 port = freePort();
    const Project p = makeProject("alpha", "Alpha", root, port);

    model->startInternal(p);
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Alpha is starting on port %1...").arg(port));
    EXPECT_TRUE(model->isStarting("alpha"));
    EXPECT_FALSE(model->runningProjects().contains("alpha"));

    ASSERT_TRUE(waitRunning("alpha"));
    const qint32 pid = model->runningProjects().value("alpha");
    EXPECT_GT(pid, 0);
    EXPECT_TRUE(Process::exists(pid));
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Alpha started on port %1.").arg(port));
    EXPECT_FALSE(model->phpMyAdminPid().has_value()) << "only the phpmyadmin id touches phpMyAdminPid";

    const QString router = model->routersURL() + QStringLiteral("/alpha-router.php");
    EXPECT_EQ(readFile(router), PHPDevelopmentRouter::source().toUtf8());
    EXPECT_TRUE(QFileInfo::exists(model->logsURL() + QStringLiteral("/alpha.log")));
}

TEST_F(ProjectServers, RouterScriptIsWrittenWholeAndIsValidPhp)
{
    const QByteArray source = PHPDevelopmentRouter::source().toUtf8();
    EXPECT_TRUE(source.startsWith("<?php\n"));
    EXPECT_TRUE(source.endsWith("\n?>"));
    const QString written = model->routerScript(makeProject("r", "R", path("x"), 1));
    EXPECT_EQ(written, model->routersURL() + QStringLiteral("/r-router.php"));
    EXPECT_EQ(readFile(written), source);
    // The same text for every project: nothing of the project is in it.
    EXPECT_EQ(readFile(model->routerScript(makeProject("other", "Other", path("y"), 2))), source);
    EXPECT_EQ(QProcess::execute(BundledPhp::binary(), BundledPhp::arguments({"-l", written})), 0);
    // An id that would leave the Routers folder writes nothing.
    model->routerScript(makeProject("../escaped", "E", path("x"), 1));
    EXPECT_FALSE(QFileInfo::exists(model->appSupport() + "/escaped-router.php"));
}

TEST_F(ProjectServers, RouterServesWhatLiesInsideTheRootByItsRequestPath)
{
    const QString root = makeSite(path("www/site"));
    writeFile(root + "/style.css", "body{color:red}");
    writeFile(root + "/hello.php", "<?php echo 'hello from ', basename(__FILE__);");
    writeFile(root + "/sub/page.txt", "sub page");
    writeFile(path("www/secret.txt"), "TOP SECRET");
    writeFile(path("www/style.css"), "OUTSIDE style");
    // Links the user placed inside the root, to files and folders outside it (Laravel's
    // storage:link, Debian's phpMyAdmin): served as PHP's own server serves them.
    writeFile(path("shared/public/upload.txt"), "uploaded file");
    writeFile(path("shared/public/tool.php"), "<?php echo 'linked script ', $_SERVER['PATH_INFO'] ?? '-';");
    ASSERT_TRUE(QFile::link(path("www/secret.txt"), root + "/link.txt"));
    ASSERT_TRUE(QFile::link(root + "/style.css", root + "/inner-link.css"));
    ASSERT_TRUE(QFile::link(path("shared/public"), root + "/storage"));
    // Files the workspace writes beside a file while saving it.
    writeFile(root + "/.config.php.kovani-copy", "<?php $password = 'COPIED SOURCE';");
    writeFile(root + "/.config.php.kovani-copy-2", "COPIED SOURCE");
    writeFile(root + "/sub/.page.txt.kovani-save-a1B2c3", "COPIED SOURCE");
    const quint16 port = freePort();
    model->startInternal(makeProject("routed", "Routed", root, port));
    ASSERT_TRUE(waitRunning("routed")) << model->statusMessage().toStdString();

    struct Case {
        const char* path;
        int status;
        QByteArray body; // empty: the front controller's answer for the path
    };
    const Case cases[] = {
        {"/", 200, ""},
        {"/style.css", 200, "body{color:red}"},
        {"/hello.php", 200, "hello from hello.php"},
        {"/sub/page.txt", 200, "sub page"},
        {"/sub/", 200, ""},
        {"/missing/route?x=1", 200, ""},
        {"/inner-link.css", 200, "body{color:red}"},
        {"/link.txt", 200, "TOP SECRET"},
        {"/storage/upload.txt", 200, "uploaded file"},
        {"/storage/tool.php/extra", 200, "linked script /extra"},
        {"/storage/../style.css", 200, "body{color:red}"}, // lexically inside, not through the link
        {"/storage/%2e%2e/hello.php", 200, "hello from hello.php"},
        {"/storage/missing.txt", 200, ""},
        // Climbing out of the root, however spelt, reaches no file.
        {"/../secret.txt", 200, ""},
        {"/%2e%2e/secret.txt", 200, ""},
        {"/sub/%2E%2E/%2E%2E/secret.txt", 200, ""},
        {"/sub/..%2f..%2fsecret.txt", 200, ""},
        {"/storage/../../secret.txt", 200, ""},
        {"/storage/%2e%2e/%2e%2e/style.css", 200, ""},
        {"/.config.php.kovani-copy", 404, "Not Found"},
        {"/.config.php.kovani-copy-2", 404, "Not Found"},
        {"/sub/.page.txt.kovani-save-a1B2c3", 404, "Not Found"},
        {"/sub/%2e%2e/.config.php.kovani-copy", 404, "Not Found"},
        {"/%2Econfig.php.kovani-copy?x", 404, "Not Found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const Reply reply = curl(port, QString::fromLatin1(c.path));
        EXPECT_EQ(reply.status, c.status);
        const QByteArray expected = c.body.isEmpty() ? "front:/index.php:" + QByteArray(c.path) : c.body;
        EXPECT_EQ(reply.body.toStdString(), expected.toStdString());
        EXPECT_FALSE(reply.body.contains("OUTSIDE"));
        EXPECT_FALSE(reply.body.contains("COPIED SOURCE"));
    }

    // Without a front controller every routed request is the plain-text 404.
    ASSERT_TRUE(QFile::remove(root + "/index.php"));
    for (const char* p : {"/", "/missing", "/../secret.txt", "/storage/missing.txt"}) {
        const Reply reply = curl(port, QString::fromLatin1(p));
        EXPECT_EQ(reply.status, 404) << p;
        EXPECT_EQ(reply.contentType, QStringLiteral("text/plain; charset=utf-8")) << p;
        EXPECT_EQ(QString::fromUtf8(reply.body), QStringLiteral("Project index.php was not found in ") + root) << p;
    }
    EXPECT_EQ(curl(port, "/style.css").body, QByteArray("body{color:red}"));
    EXPECT_EQ(curl(port, "/.config.php.kovani-copy").status, 404);
}

TEST_F(ProjectServers, RouterServesFoldersAndScriptPathsAsPhpsOwnServerDoes)
{
    const QString root = makeSite(path("www/site"));
    const QByteArray scriptBody =
        "<?php echo basename(__FILE__), ' SCRIPT_NAME=', $_SERVER['SCRIPT_NAME'], ' PHP_SELF=', $_SERVER['PHP_SELF'],"
        " ' PATH_INFO=', $_SERVER['PATH_INFO'] ?? '-', ' SCRIPT_FILENAME=', $_SERVER['SCRIPT_FILENAME'];";
    writeFile(root + "/withphp/index.php", "<?php echo 'sub:', $_SERVER['SCRIPT_NAME'], ':', $_SERVER['REQUEST_URI'];");
    writeFile(root + "/rest.php", scriptBody);
    writeFile(root + "/api/v1.php", scriptBody);
    writeFile(root + "/withhtml/index.html", "html index\n");
    writeFile(root + "/both/index.php", "<?php echo 'both php';");
    writeFile(root + "/both/index.html", "both html");
    writeFile(root + "/dirphp/index.php/keep", "a folder named index.php");
    writeFile(root + "/dirphp/index.html", "html beside a folder index.php");
    writeFile(root + "/data.json/index.html", "dotted folder");
    writeFile(root + "/noindex/x.txt", "x");
    writeFile(root + "/file.txt", "file");
    writeFile(path("www/outside/index.php"), "<?php echo 'linked folder index';");
    writeFile(path("www/outside/tool.php"), scriptBody);
    writeFile(path("www/secret.php"), "<?php echo 'linked index file';");
    ASSERT_TRUE(QFile::link(path("www/outside"), root + "/outlink"));
    writeFile(root + "/badindex/other.txt", "");
    ASSERT_TRUE(QFile::link(path("www/secret.php"), root + "/badindex/index.php"));

    const quint16 routed = freePort();
    model->startInternal(makeProject("folders", "Folders", root, routed));
    ASSERT_TRUE(waitRunning("folders")) << model->statusMessage().toStdString();
    const BareServer bare(*model, php, root);
    ASSERT_TRUE(bare.waitListening());

    // Each path either answers as PHP's server answers it (status, Location, content type and
    // body), or goes to the front controller: the path names no file and no folder with an index,
    // or leaves the document root.
    enum Expect { SameAsPhp, FrontController };
    struct Case {
        const char* path;
        Expect expect;
        QByteArray body; // when not empty, the body both must give
    };
    const Case cases[] = {
        {"/withphp/", SameAsPhp, "sub:/withphp/index.php:/withphp/"},
        {"/withphp", SameAsPhp, "sub:/withphp/index.php:/withphp"},
        {"/withphp/?a=1&b=/c", SameAsPhp, "sub:/withphp/index.php:/withphp/?a=1&b=/c"},
        {"/withphp?a=1", SameAsPhp, "sub:/withphp/index.php:/withphp?a=1"},
        {"/withphp/index.php", SameAsPhp, "sub:/withphp/index.php:/withphp/index.php"},
        {"/withhtml/", SameAsPhp, "html index\n"},
        {"/withhtml", SameAsPhp, "html index\n"},
        {"/withhtml/?q", SameAsPhp, "html index\n"},
        {"/both/", SameAsPhp, "both php"},
        {"/dirphp/", SameAsPhp, "html beside a folder index.php"},
        {"/noindex/../withphp/", SameAsPhp, "sub:/withphp/index.php:/noindex/../withphp/"},
        {"/%77ithphp/", SameAsPhp, "sub:/withphp/index.php:/%77ithphp/"},
        // A folder named like a file: PHP's own server decides (older PHP answers 404 here).
        {"/data.json/", SameAsPhp, ""},
        {"/data.json", SameAsPhp, ""},
        {"/file.txt", SameAsPhp, "file"},
        {"/noindex/x.txt", SameAsPhp, "x"},
        {"/", SameAsPhp, "front:/index.php:/"},
        {"/missing", SameAsPhp, "front:/index.php:/missing"},
        {"/missing/deeper?q=1", SameAsPhp, "front:/index.php:/missing/deeper?q=1"},
        // A script followed by more path runs with that path as PATH_INFO, at the root, in a
        // sub-folder and in a linked folder.
        {"/rest.php/v1/page/Main", SameAsPhp,
         "rest.php SCRIPT_NAME=/rest.php PHP_SELF=/rest.php/v1/page/Main PATH_INFO=/v1/page/Main SCRIPT_FILENAME=" + (root + "/rest.php").toUtf8()},
        {"/rest.php/", SameAsPhp, ""},
        {"/rest.php/x%20y?q=1", SameAsPhp, ""},
        {"/api/v1.php/items/7", SameAsPhp,
         "v1.php SCRIPT_NAME=/api/v1.php PHP_SELF=/api/v1.php/items/7 PATH_INFO=/items/7 SCRIPT_FILENAME=" + (root + "/api/v1.php").toUtf8()},
        {"/withphp/index.php/extra", SameAsPhp, ""},
        {"/index.php/route", SameAsPhp, ""},
        {"/outlink/tool.php/x", SameAsPhp, ""},
        {"/api/../rest.php/z", SameAsPhp, ""},
        // Links the user placed inside the root are followed.
        {"/outlink/", SameAsPhp, "linked folder index"},
        {"/outlink", SameAsPhp, "linked folder index"},
        {"/badindex/", SameAsPhp, "linked index file"},
        {"/noindex/", FrontController, ""},
        {"/noindex", FrontController, ""},
        {"/noindex/missing", FrontController, ""},
        {"/missing.css", FrontController, ""},
        {"/file.txt/", FrontController, ""},
        {"/noindex/x.txt/more", FrontController, ""},
        {"/missing.php/x", FrontController, ""},
        {"/%00", FrontController, ""},
        {"/withphp/%00", FrontController, ""},
        {"/rest.php%00/x", FrontController, ""},
        {"/%00/../withphp/", FrontController, ""},
        {"/../withphp/", FrontController, ""},
        {"/%2e%2e/site/withhtml/", FrontController, ""},
        {"/withphp/%2E%2E/%2E%2E/outside/", FrontController, ""},
        {"/../outside/tool.php/x", FrontController, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const Reply reply = curl(routed, QString::fromLatin1(c.path));
        if (c.expect == FrontController) {
            EXPECT_EQ(reply.status, 200);
            EXPECT_EQ(reply.location, QString());
            EXPECT_EQ(reply.body.toStdString(), "front:/index.php:" + std::string(c.path));
            continue;
        }
        const Reply own = curl(bare.port, QString::fromLatin1(c.path));
        EXPECT_EQ(reply.status, own.status);
        EXPECT_EQ(reply.location, own.location);
        EXPECT_EQ(reply.contentType, own.contentType);
        EXPECT_EQ(reply.body.toStdString(), own.body.toStdString());
        if (!c.body.isEmpty()) {
            EXPECT_EQ(reply.status, 200);
            EXPECT_EQ(reply.body.toStdString(), c.body.toStdString());
        }
    }
}

TEST_F(ProjectServers, PagesSeeTheGlobalScopeOfPhpsOwnServer)
{
    // What a page finds in its global scope, and what it reads from globals nobody set.
    const QByteArray scope =
        "<?php $names = array_keys(get_defined_vars()); sort($names);\n"
        "echo implode(',', $names), '|', implode(',', array_keys($GLOBALS)), '|', $_SERVER['SCRIPT_NAME'], '|';\n"
        "foreach (['candidate', 'documentRoot', 'requestPath', 'rootPrefix', 'frontController', 'segments', 'uri'] as $n)\n"
        "    echo isset($GLOBALS[$n]) ? \"$n is set;\" : '';\n"
        "echo isset($candidate) ? 'candidate' : 'no candidate';\n";
    const QString root = path("scope");
    writeFile(root + "/index.php", scope);
    writeFile(root + "/page.php", scope);
    writeFile(root + "/sub/index.php", scope);
    const Project p = makeProject("scope", "Scope", root, freePort());
    model->startInternal(p);
    ASSERT_TRUE(waitRunning(p.id)) << model->statusMessage().toStdString();
    const BareServer bare(*model, php, root);
    ASSERT_TRUE(bare.waitListening());
    for (const char* requested : {"/", "/page.php", "/page.php/extra", "/sub/", "/missing", "/?candidate=1"}) {
        SCOPED_TRACE(requested);
        const Reply routed = curl(p.port, QString::fromLatin1(requested));
        const Reply own = curl(bare.port, QString::fromLatin1(requested));
        EXPECT_EQ(routed.status, 200);
        EXPECT_TRUE(routed.body.endsWith("|no candidate")) << routed.body.toStdString();
        EXPECT_EQ(routed.body.toStdString(), own.body.toStdString());
    }
}

TEST_F(ProjectServers, CommandLineWorkingFolderAndEnvironmentAreExact)
{
    struct Case {
        const char* name;
        bool laravel;
        bool bundled;
    };
    for (const Case c : {Case{"plain", false, false}, Case{"laravel", true, false}, Case{"bundled", false, true}}) {
        SCOPED_TRACE(c.name);
        const QString folder = path(QStringLiteral("sites/%1").arg(c.name));
        QString documentRoot = folder;
        if (c.laravel) {
            writeFile(folder + "/artisan", "#!/usr/bin/env php\n");
            documentRoot = makeSite(folder + "/public");
        } else {
            makeSite(folder);
        }
        // The bundled runtime, or the same program under a path that is not the bundle's.
        const QString binary = c.bundled ? php : plainRuntime(path("bin"));
        selectRuntime(*model, binary);

        const quint16 port = freePort();
        const QString id = QString::fromLatin1(c.name);
        model->startInternal(makeProject(id, id, folder, port));
        ASSERT_TRUE(waitRunning(id)) << model->statusMessage().toStdString();
        const qint32 pid = model->runningProjects().value(id);

        const QString router = model->routersURL() + u'/' + id + QStringLiteral("-router.php");
        QStringList expected = model->phpRuntimeArguments(
            {"-S", QStringLiteral("127.0.0.1:%1").arg(port), "-t", documentRoot, router}, binary);
        if (c.bundled)
            EXPECT_EQ(expected.mid(0, 2), (QStringList{"-d", "pcre.jit=0"}));
        else
            EXPECT_EQ(expected.first(), QStringLiteral("-S"));
        EXPECT_EQ(procCmdline(pid), QStringList{binary} + expected);
        EXPECT_EQ(procCwd(pid), documentRoot);

        const QMap<QString, QString> environ = procEnviron(pid);
        const Process::Environment given = model->serverEnvironment(binary);
        Process::Environment php = model->phpEnvironment(binary);
        php.insert("PHP_CLI_SERVER_WORKERS", QString::number(kServerWorkers));
        EXPECT_EQ(given, php) << "the PHP environment and the workers";
        EXPECT_EQ(environ.value("PATH").startsWith(QFileInfo(binary).absolutePath() + u':'), c.bundled);
        for (auto it = given.cbegin(); it != given.cend(); ++it)
            if (it.key() != QStringLiteral("PWD"))
                EXPECT_EQ(environ.value(it.key(), QStringLiteral("<missing>")), it.value()) << it.key().toStdString();
        for (auto it = environ.cbegin(); it != environ.cend(); ++it) {
            // /bin/sh adds only its own PWD while exec'ing.
            if (it.key() != QStringLiteral("PWD"))
                EXPECT_TRUE(given.contains(it.key())) << "unexpected " << it.key().toStdString();
        }
        EXPECT_EQ(curl(port, "/").body, QByteArray("front:/index.php:/"));
        model->stopProcess(id);
    }
}

TEST_F(ProjectServers, RefusalsComeInOrderAndLeaveNothingBehind)
{
    const QString good = makeSite(path("good"));
    QDir().mkpath(path("empty"));
    writeFile(path("laravel-no-public/artisan"), "");
    struct Case {
        const char* label;
        std::function<void()> prepare;
        Project project;
        QString message;
    };
    const auto supported = [this] { selectRuntime(*model, php, true); };
    const Case cases[] = {
        {"no runtime", [this] { model->setPhpVersions({}); }, makeProject("a", "A", good, freePort()),
         "No supported PHP 8.5+ runtime found."},
        {"old runtime", [this] { selectRuntime(*model, php, false); }, makeProject("a", "A", good, freePort()),
         "No supported PHP 8.5+ runtime found."},
        {"unsafe id before runtime", [this] { model->setPhpVersions({}); }, makeProject("../a", "A", good, freePort()),
         QString::fromUtf8("Invalid project id \u201C../a\u201D: an id must not be empty, contain \"/\" or \"..\", or start with \".\".")},
        {"slash id", supported, makeProject("a/b", "A", good, freePort()),
         QString::fromUtf8("Invalid project id \u201Ca/b\u201D: an id must not be empty, contain \"/\" or \"..\", or start with \".\".")},
        {"hidden id", supported, makeProject(".a", "A", good, freePort()),
         QString::fromUtf8("Invalid project id \u201C.a\u201D: an id must not be empty, contain \"/\" or \"..\", or start with \".\".")},
        {"missing root", supported, makeProject("a", "A", path("gone/../gone/"), freePort()),
         "Project root does not exist: " + path("gone/../gone/")},
        {"no index", supported, makeProject("a", "A", path("empty"), freePort()),
         "Project index.php was not found in " + path("empty")
             + ". Choose the Laravel project folder or a folder that contains index.php."},
        {"laravel without public index", supported, makeProject("a", "A", path("laravel-no-public"), freePort()),
         "Project index.php was not found in " + path("laravel-no-public")
             + ". Choose the Laravel project folder or a folder that contains index.php."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        c.prepare();
        model->setStatusMessage("before");
        model->startInternal(c.project);
        EXPECT_EQ(model->statusMessage(), c.message);
        EXPECT_FALSE(model->isStarting(c.project.id));
        EXPECT_FALSE(model->isRunning(c.project.id));
    }
    EXPECT_TRUE(QDir(model->routersURL()).isEmpty());
    EXPECT_TRUE(QDir(model->logsURL()).entryList({"*.log"}).isEmpty());
    EXPECT_TRUE(QFileInfo::exists(path("gone")) == false);
}

TEST_F(ProjectServers, WebsiteWithThePhpMyAdminIdIsRefusedWhileTheSharedOneStarts)
{
    // A website stored under the shared phpMyAdmin's id (an older version allowed it).
    const Project stored = makeProject("phpmyadmin", "phpMyAdmin", makeSite(path("site")), freePort());
    const quint16 pmaPort = freePort();
    model->modifyConfig([&](AppConfig& c) {
        c.projects = {stored};
        c.phpMyAdminRoot = makeSite(path("pma"));
        c.phpMyAdminPort = pmaPort;
    });
    model->startInternal(stored);
    EXPECT_EQ(model->statusMessage(),
              QStringLiteral("phpMyAdmin cannot be started: the id \"phpmyadmin\" is reserved for the shared phpAdmin. "
                             "Import the folder under another name."));
    EXPECT_FALSE(model->isStarting("phpmyadmin"));
    EXPECT_TRUE(QDir(model->routersURL()).isEmpty());

    // The shared phpMyAdmin itself still starts under its id.
    Project shared = stored;
    shared.root = model->config().phpMyAdminRoot;
    shared.port = pmaPort;
    model->startInternal(shared);
    ASSERT_TRUE(waitRunning("phpmyadmin")) << model->statusMessage().toStdString();
    EXPECT_EQ(curl(pmaPort, "/").status, 200);

    // The stored website does not make the shared one a website: Stop All leaves it running.
    EXPECT_FALSE(model->hasRunningWebsites());
    model->stopAllProjects();
    EXPECT_TRUE(model->isRunning("phpmyadmin"));
}

TEST_F(ProjectServers, RouterThatCannotBeWrittenLaunchesNothing)
{
    // A file where the Routers folder should be (works as root too, unlike permissions).
    ASSERT_TRUE(QDir(model->routersURL()).removeRecursively());
    writeFile(model->routersURL(), "not a folder");
    const Project p = makeProject("blocked", "Blocked", makeSite(path("blocked")), freePort());
    model->startInternal(p);
    EXPECT_TRUE(model->statusMessage().startsWith(QStringLiteral("Could not write router script: ")))
        << model->statusMessage().toStdString();
    EXPECT_GT(model->statusMessage().size(), QStringLiteral("Could not write router script: ").size());
    EXPECT_FALSE(model->isStarting("blocked"));
    EXPECT_FALSE(model->isRunning("blocked"));
    EXPECT_FALSE(QFileInfo::exists(model->logsURL() + QStringLiteral("/blocked.log")));
    EXPECT_TRUE(processesMentioning(path("blocked")).isEmpty());
}

TEST_F(ProjectServers, LongIdsGetFileNamesWithinTheNameLimit)
{
    // Ids as long as a 250-character name gives, in a script with several bytes per letter too.
    const QString common = QString(230, u'a');
    const QList<Project> projects = {
        makeProject(common + QStringLiteral("-one-") + QString(20, u'x'), "One", makeSite(path("one")), freePort()),
        makeProject(common + QStringLiteral("-two-") + QString(20, u'x'), "Two", makeSite(path("two")), freePort()),
        makeProject(QString(250, QChar(0x00E9)), "Accents", makeSite(path("accents")), freePort()),
    };
    QSet<QString> routers;
    for (const Project& p : projects) {
        model->startInternal(p);
        ASSERT_TRUE(waitRunning(p.id)) << model->statusMessage().toStdString();
        EXPECT_EQ(curl(p.port, "/").body, QByteArray("front:/index.php:/")) << p.name.toStdString();
    }
    for (const QString& name : QDir(model->routersURL()).entryList(QDir::Files)) {
        EXPECT_LE(QFile::encodeName(name).size(), 255) << name.toStdString();
        routers.insert(name);
    }
    EXPECT_EQ(routers.size(), projects.size()) << "every id keeps its own router";
    const QStringList logs = QDir(model->logsURL()).entryList({QStringLiteral("*.log")}, QDir::Files);
    EXPECT_EQ(logs.size(), projects.size());
    for (const QString& name : logs)
        EXPECT_LE(QFile::encodeName(name).size(), 255) << name.toStdString();

    // The log of a long id is found again.
    writeFile(path("one/noisy.php"), "<?php file_put_contents('php://stderr', 'long id wrote this');");
    curl(projects[0].port, "/noisy.php");
    EXPECT_TRUE(model->hasLog(projects[0].id));
    ASSERT_TRUE(waitUntil([&] {
        model->showLog(projects[0].id);
        Dispatch::drainForTesting();
        return model->selectedLog().contains("long id wrote this");
    })) << model->selectedLog().toStdString();
}

TEST_F(ProjectServers, LongIdsStartStopAndStartAgain)
{
    // 238 bytes is the first length whose router script once had no room left for the temporary
    // name that replaces it: the second start failed. Ids in one-, two- and four-byte letters.
    struct Case {
        QString id;
        qsizetype bytes;
    };
    const QString four = QString::fromUtf8("\xF0\x9F\x90\x98"); // U+1F418, four bytes
    const QList<Case> cases = {
        {QString(238, u'a'), 238},
        {QString(250, u'b'), 250},
        {QString(300, u'c'), 300},
        {QString(119, QChar(0x00E9)), 238},
        {QString(125, QChar(0x00E8)), 250},
        {four.repeated(75), 300},
        {QString(59, QChar(0x00E9)) + four.repeated(30), 238}, // the cut falls among four-byte letters
    };
    QList<Project> projects;
    for (const Case& c : cases) {
        ASSERT_EQ(c.id.toUtf8().size(), c.bytes);
        projects.append(makeProject(c.id, QStringLiteral("Long%1").arg(projects.size()),
                                    makeSite(path(QStringLiteral("long%1").arg(projects.size()))), freePort()));
    }
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        for (const Project& p : projects) {
            model->startInternal(p);
            ASSERT_TRUE(model->isStarting(p.id)) << p.name.toStdString() << ": " << model->statusMessage().toStdString();
        }
        for (const Project& p : projects) {
            ASSERT_TRUE(waitRunning(p.id, 60000)) << p.name.toStdString() << ": " << model->statusMessage().toStdString();
            EXPECT_EQ(curl(p.port, "/").body, QByteArray("front:/index.php:/")) << p.name.toStdString();
        }
        for (const Project& p : projects) {
            const qint32 pid = model->runningProjects().value(p.id);
            model->stopProcess(p.id);
            EXPECT_FALSE(model->isRunning(p.id));
            EXPECT_TRUE(waitUntil([&] { return !Process::exists(pid); }, 20000)) << p.name.toStdString();
        }
    }
    // One router and one log per id, each named within the limit with room for a temporary name.
    const QStringList routers = QDir(model->routersURL()).entryList(QDir::Files);
    EXPECT_EQ(routers.size(), projects.size()) << routers.join(u' ').toStdString();
    for (const QString& name : routers)
        EXPECT_LE(QFile::encodeName(name).size() + 7, 255) << name.toStdString();
    const QStringList logs = QDir(model->logsURL()).entryList(QDir::Files);
    EXPECT_EQ(logs.size(), projects.size());
    for (const Project& p : projects)
        EXPECT_TRUE(model->hasLog(p.id)) << p.name.toStdString();
}

TEST_F(ProjectServers, RuntimeThatRunsPhpAsItsChildStartsServesAndStopsWhole)
{
    struct Case {
        const char* label;
        QByteArray script; // a runtime that does not exec: PHP is its child
        bool ignoresSigterm;
    };
    const Case cases[] = {
        {"wrapper", "#!/bin/sh\n" + BundledPhp::shellCommand().toUtf8() + " \"$@\"\n", false},
        // An ignored signal stays ignored in the child: only SIGKILL to the group ends both.
        {"deaf wrapper", "#!/bin/sh\ntrap '' TERM\n" + BundledPhp::shellCommand().toUtf8() + " \"$@\"\n", true},
        // The wrapper ends at once; its PHP alone outlives the signal, watched until the ceiling.
        {"wrapper with a deaf PHP", "#!/bin/sh\n(trap '' TERM; exec " + BundledPhp::shellCommand().toUtf8() + " \"$@\") &\nwait\n", true},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const QString runtime = path(QStringLiteral("runtime%1/php").arg(++n));
        writeScript(runtime, c.script);
        selectRuntime(*model, runtime);
        const QString id = QStringLiteral("wrapped%1").arg(n);
        const Project p = makeProject(id, "Wrapped", makeSite(path(id)), freePort());
        model->startInternal(p);
        // It used to be never: PHP as the runtime's child was not taken for the server.
        ASSERT_TRUE(waitRunning(id)) << model->statusMessage().toStdString();
        EXPECT_EQ(curl(p.port, "/").body, QByteArray("front:/index.php:/"));
        const QList<qint32> pids = processesMentioning(model->routersURL() + u'/' + id + QStringLiteral("-router.php"));
        EXPECT_GE(pids.size(), 2) << "the wrapper and its PHP";

        QElapsedTimer timer;
        timer.start();
        model->stopProcess(id);
        // A lower bound for the deaf ones (the ceiling is kept before SIGKILL), and a hang guard.
        if (c.ignoresSigterm)
            EXPECT_GE(timer.elapsed(), 1450);
        EXPECT_LT(timer.elapsed(), 15000);
        // Whole: a process that ignores SIGTERM is gone too, so the group got SIGKILL.
        EXPECT_TRUE(waitUntil([&] { return processesMentioning(model->routersURL() + u'/' + id).isEmpty(); }, 20000));
        // A killed process drops its command line before the kernel has finished ending it.
        for (qint32 pid : pids)
            EXPECT_TRUE(waitUntil([&] { return !Process::exists(pid); }, 20000)) << pid;
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, p.port);
        EXPECT_FALSE(probe.waitForConnected(500)) << "nothing listens on the port any more";
    }
}

TEST_F(ProjectServers, DoubleStartIsRefusedAndLaunchesOneProcess)
{
    const QString root = makeSite(path("twice"));
    const Project p = makeProject("twice", "Twice", root, freePort());
    model->startInternal(p);
    model->startInternal(p);
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Twice is already starting or running."));
    ASSERT_TRUE(waitRunning("twice"));
    model->startInternal(p);
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Twice is already starting or running."));
    // One server, and the workers it forked.
    const qint32 pid = model->runningProjects().value("twice");
    EXPECT_EQ(launchedMentioning(model->routersURL() + "/twice-router.php"), QList<qint32>{pid});
    EXPECT_TRUE(waitUntil([&] { return processesMentioning(model->routersURL() + "/twice-router.php").size() == 1 + kServerWorkers; }));
}

TEST_F(ProjectServers, TakenPortEndsStoppedWithTheLogExcerpt)
{
    QTcpServer squatter;
    ASSERT_TRUE(squatter.listen(QHostAddress::LocalHost, 0));
    const quint16 port = squatter.serverPort();
    model->startInternal(makeProject("taken", "Taken", makeSite(path("taken")), port));
    QList<std::shared_ptr<ChildProcess>> server{AppModelTestAccess::serverProcess(*model, "taken")};
    ASSERT_TRUE(server.first());
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage().startsWith("Failed to start Taken: "); }, 30000))
        << model->statusMessage().toStdString();
    EXPECT_TRUE(model->statusMessage().contains("Address already in use")) << model->statusMessage().toStdString();
    EXPECT_FALSE(model->isRunning("taken"));
    EXPECT_FALSE(model->isStarting("taken"));
    // Nothing later overwrites the outcome: not the server's exit, not the probe.
    const QString message = model->statusMessage();
    ASSERT_TRUE(waitHandled(std::move(server)));
    EXPECT_TRUE(processesMentioning(model->routersURL() + "/taken-router.php").isEmpty());
    EXPECT_EQ(model->statusMessage(), message);
    EXPECT_FALSE(model->isRunning("taken"));
}

TEST_F(ProjectServers, TakenPortAfterThirtyStartUpWarningsStillNamesTheReason)
{
    // The user's own ini makes the runtime warn thirty times as it starts.
    QString ini;
    for (int i = 1; i <= 30; ++i)
        ini += QStringLiteral("extension=kovani_missing_%1\n").arg(i);
    writeFile(model->phpUserIniFolder() + QStringLiteral("/warnings.ini"), ini.toUtf8());
    QTcpServer squatter;
    ASSERT_TRUE(squatter.listen(QHostAddress::LocalHost, 0));
    const quint16 port = squatter.serverPort();
    model->startInternal(makeProject("warned", "Warned", makeSite(path("warned")), port));
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage().startsWith("Failed to start Warned: "); }, 30000))
        << model->statusMessage().toStdString();

    // The website's log has every warning, and the reason as its last line.
    const QStringList log = Text::trimmed(TestFiles::readText(model->logsURL() + QStringLiteral("/warned.log"))).split(u'\n');
    EXPECT_EQ(log.filter(QStringLiteral("Unable to load dynamic library 'kovani_missing_")).size(), 30);
    const QString reason = QStringLiteral("Failed to listen on 127.0.0.1:%1 (reason: Address already in use)").arg(port);
    EXPECT_TRUE(log.last().endsWith(reason)) << log.last().toStdString();

    // The status line drops the excerpt's start and keeps its end.
    const QString line = model->statusMessage();
    EXPECT_LE(line.size(), Text::kStatusLineLimit);
    EXPECT_EQ(line, QStringLiteral("Failed to start Warned: ") + QChar(0x2026) + log.last());
    // The whole message keeps the excerpt of the log, as shortOutput takes it.
    const QString whole = model->wholeStatusMessage();
    EXPECT_GT(whole.size(), line.size());
    EXPECT_TRUE(whole.endsWith(reason));
    EXPECT_TRUE(whole.contains(QStringLiteral("kovani_missing_30")));
    EXPECT_FALSE(model->isStarting("warned"));
}

TEST_F(ProjectServers, ServerThatNeverListensFailsAtTheLimit)
{
    // A runtime that ignores its arguments and prints one line, then sleeps.
    const QString fake = path("bin/deaf-php");
    writeScript(fake, "#!/bin/sh\necho 'deaf server here'\nexec sleep 60\n");
    selectRuntime(*model, fake);
    QElapsedTimer timer;
    timer.start();
    model->startInternal(makeProject("deaf", "Deaf", makeSite(path("deaf")), freePort()));
    ASSERT_TRUE(waitUntil([&] { return !model->isStarting("deaf"); }, 30000));
    // Alive and silent about listening: waited for the whole limit, not only the first tries.
    EXPECT_GT(timer.elapsed(), 9500);
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Failed to start Deaf: deaf server here"));
    EXPECT_TRUE(processesMentioning(model->routersURL() + "/deaf-router.php").isEmpty());
}

TEST_F(ProjectServers, SlowFirstStartIsWaitedForAndNotKilled)
{
    // The bundled PHP behind a start that takes longer than the first thirty tries.
    const QString gate = path("gate");
    selectRuntime(*model, writeGatedPhp(path("bin/slow-php"), gate));
    const Project p = makeProject("slow", "Slow", makeSite(path("slow")), freePort());
    model->startInternal(p);
    waitUntil([] { return false; }, 5000);
    EXPECT_TRUE(model->isStarting("slow"));
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Slow is starting on port %1...").arg(p.port));
    const QList<qint32> waiting = processesMentioning(model->routersURL() + "/slow-router.php");
    EXPECT_FALSE(waiting.isEmpty()) << "the server is still there";

    writeFile(gate, "");
    ASSERT_TRUE(waitRunning("slow", 30000)) << model->statusMessage().toStdString();
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Slow started on port %1.").arg(p.port));
    EXPECT_EQ(curl(p.port, "/").body, QByteArray("front:/index.php:/"));
    EXPECT_TRUE(waiting.contains(model->runningProjects().value("slow")));
}

TEST_F(ProjectServers, PortOutsideTheTcpRangeIsRefused)
{
    for (qint64 port : {qint64(0), qint64(65536), qint64(70000), qint64(-5)}) {
        SCOPED_TRACE(port);
        const QString id = QStringLiteral("range%1").arg(port < 0 ? 0 : port);
        model->setStatusMessage("before");
        model->startInternal(makeProject(id, "Range", makeSite(path(id)), port));
        EXPECT_EQ(model->statusMessage(), QStringLiteral("Range cannot be started: the website port must be between 1 and 65535."));
        EXPECT_FALSE(model->isStarting(id));
        EXPECT_FALSE(model->isRunning(id));
        EXPECT_TRUE(processesMentioning(model->routersURL() + u'/' + id).isEmpty());
    }
    EXPECT_TRUE(QDir(model->logsURL()).entryList({"*.log"}).isEmpty());
}

TEST_F(ProjectServers, LaunchFailureRegistersNothing)
{
    selectRuntime(*model, path("bin/no-such-php"));
    model->startInternal(makeProject("nolaunch", "No Launch", makeSite(path("nolaunch")), freePort()));
    EXPECT_EQ(model->statusMessage(),
              QString::fromUtf8("Failed to start No Launch: The file \u201C%1\u201D doesn\u2019t exist.").arg(path("bin/no-such-php")));
    EXPECT_FALSE(model->isStarting("nolaunch"));
    EXPECT_TRUE(QFileInfo::exists(model->routersURL() + "/nolaunch-router.php"));
    EXPECT_EQ(QFileInfo(model->logsURL() + "/nolaunch.log").size(), 0);
}

TEST_F(ProjectServers, KilledFromOutsideShowsStoppedUnexpectedly)
{
    const quint16 port = freePort();
    model->startInternal(makeProject("victim", "Victim", makeSite(path("victim")), port));
    ASSERT_TRUE(waitRunning("victim"));
    const qint32 pid = model->runningProjects().value("victim");
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    ASSERT_TRUE(waitStopped("victim"));
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Victim stopped unexpectedly. Check Logs for details."));
    EXPECT_FALSE(Process::exists(pid));
}

TEST_F(ProjectServers, PhpMyAdminPidIsClearedWhenItsServerDies)
{
    const quint16 port = freePort();
    model->startInternal(makeProject("phpmyadmin", "phpMyAdmin", makeSite(path("pma")), port));
    ASSERT_TRUE(waitRunning("phpmyadmin"));
    const qint32 pid = *model->phpMyAdminPid();
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    ASSERT_TRUE(waitStopped("phpmyadmin"));
    EXPECT_FALSE(model->phpMyAdminPid().has_value());
}

TEST_F(ProjectServers, ExitStatusDecidesTheExitMessage)
{
    const QString fake = writeExitingPhp(path("bin/exiting-php"));
    struct Case {
        const char* status;
        bool unexpected;
    };
    for (const Case c : {Case{"0", false}, Case{"3", true}}) {
        SCOPED_TRACE(c.status);
        selectRuntime(*model, fake);
        const quint16 port = freePort();
        const QString id = QStringLiteral("exit%1").arg(c.status);
        model->startInternal(makeProject(id, "Exiter", makeSite(path(id)), port));
        ASSERT_TRUE(waitRunning(id)) << model->statusMessage().toStdString();
        model->setStatusMessage("unchanged");
        sendLine(port, c.status);
        ASSERT_TRUE(waitStopped(id));
        EXPECT_EQ(model->statusMessage(),
                  c.unexpected ? QStringLiteral("Exiter stopped unexpectedly. Check Logs for details.") : QStringLiteral("unchanged"));
    }
}

TEST_F(ProjectServers, StoppingAHealthyServerIsQuietAndQuick)
{
    // A server that ends on SIGTERM is not kept for the ceiling: the stop returns once it is gone.
    // A stop that waited out the ceiling would take 1.5 s every time, however idle the machine; a
    // busy machine can only slow some stops down, so the quickest of three is the one compared.
    qint64 quickest = std::numeric_limits<qint64>::max();
    QList<std::shared_ptr<ChildProcess>> stopped;
    for (const char* id : {"calm", "calm2", "calm3"}) {
        SCOPED_TRACE(id);
        model->startInternal(makeProject(id, "Calm", makeSite(path(id)), freePort()));
        ASSERT_TRUE(waitRunning(id)) << model->statusMessage().toStdString();
        const qint32 pid = model->runningProjects().value(id);
        stopped.append(AppModelTestAccess::serverProcess(*model, id));
        model->setStatusMessage("before stop");
        QElapsedTimer timer;
        timer.start();
        model->stopProcess(id);
        quickest = std::min(quickest, timer.elapsed());
        EXPECT_FALSE(model->isRunning(id));
        EXPECT_FALSE(model->isStarting(id));
        EXPECT_FALSE(Process::exists(pid));
    }
    EXPECT_LT(quickest, 1400) << "every stop waited out the ceiling";
    // The servers' exits, handled once they are reaped, say nothing.
    ASSERT_TRUE(waitHandled(std::move(stopped)));
    EXPECT_EQ(model->statusMessage(), QStringLiteral("before stop"));
    // Stopping an id that is not registered does nothing.
    model->stopProcess("calm");
    model->stopProcess("never-seen");
    EXPECT_EQ(model->statusMessage(), QStringLiteral("before stop"));
}

TEST_F(ProjectServers, ServerIgnoringSigtermIsKilledAfterTheCeiling)
{
    const QString stubborn = path("bin/stubborn-php");
    // It notes each SIGTERM and goes on: only SIGKILL ends it.
    const QString record = path("sigterm-record");
    writeScript(stubborn,
              "#!/bin/sh\n"
              "exec " + BundledPhp::shellCommand().toUtf8() + " -r 'pcntl_async_signals(true);\n"
              "pcntl_signal(SIGTERM, function () { file_put_contents(\"" + record.toUtf8() + "\", \"term\\n\", FILE_APPEND); });\n"
              "$s = stream_socket_server(\"tcp://\" . $argv[1]); while (true) { $c = @stream_socket_accept($s, 0.1); if ($c) fclose($c); }' -- \"$2\"\n");
    if (QProcess::execute(BundledPhp::binary(), {"-r", "exit(function_exists('pcntl_signal') ? 0 : 1);"}) != 0)
        GTEST_SKIP() << "PHP has no pcntl";
    selectRuntime(*model, stubborn);
    model->startInternal(makeProject("stubborn", "Stubborn", makeSite(path("stubborn")), freePort()));
    ASSERT_TRUE(waitRunning("stubborn")) << model->statusMessage().toStdString();
    const qint32 pid = model->runningProjects().value("stubborn");
    QElapsedTimer timer;
    timer.start();
    model->stopProcess("stubborn");
    // The ceiling is kept (a busy machine only makes the wait longer), and the stop never waits
    // without end: the upper bound is a hang guard.
    EXPECT_GE(timer.elapsed(), 1450);
    EXPECT_LT(timer.elapsed(), 15000);
    EXPECT_FALSE(model->isRunning("stubborn"));
    EXPECT_TRUE(waitUntil([&] { return !Process::exists(pid); }, 20000)) << "not killed after the ceiling";
    // It was sent SIGTERM first, ignored it and was still alive: its end was the SIGKILL.
    EXPECT_EQ(readFile(record), QByteArray("term\n"));
}

TEST_F(ProjectServers, StopAllAndShutdownStopServersTogetherUnderOneCeiling)
{
    if (QProcess::execute(BundledPhp::binary(), {"-r", "exit(function_exists('pcntl_signal') ? 0 : 1);"}) != 0)
        GTEST_SKIP() << "PHP has no pcntl";
    // Servers that ignore SIGTERM: one after another they would take 1.5 s each. On SIGTERM each
    // writes how many of the servers listed in `pids` are still alive (not zombies): stopped
    // together, every one sees them all; stopped one after another, a later one sees fewer. The
    // accept loop wakes every 0.1 s, so the handler runs well within the ceiling.
    const QString pidsFile = path("pids");
    const QString records = path("sigterm-records");
    const QString stubborn = path("bin/stubborn-php");
    writeScript(stubborn, QStringLiteral(
                              "#!/bin/sh\n"
                              "exec %1 -r 'pcntl_async_signals(true);\n"
                              "pcntl_signal(SIGTERM, function () { $alive = 0;\n"
                              "  foreach (preg_split(\"/\\s+/\", trim((string) @file_get_contents(\"%2\"))) as $pid) {\n"
                              "    $stat = @file_get_contents(\"/proc/$pid/stat\");\n"
                              "    if ($stat !== false && !preg_match(\"/\\) [ZX] /\", $stat)) $alive++; }\n"
                              "  file_put_contents(\"%3\", getmypid() . \" \" . $alive . \"\\n\", FILE_APPEND | LOCK_EX); });\n"
                              "$s = stream_socket_server(\"tcp://\" . $argv[1]); while (true) { $c = @stream_socket_accept($s, 0.1); if ($c) fclose($c); }' -- \"$2\"\n")
                              .arg(BundledPhp::shellCommand(), pidsFile, records)
                              .toUtf8());
    selectRuntime(*model, stubborn);
    QList<Project> projects;
    for (const char* id : {"s1", "s2", "s3"})
        projects.append(makeProject(id, QString::fromLatin1(id).toUpper(), makeSite(path(id)), freePort()));
    model->modifyConfig([&](AppConfig& c) { c.projects = projects; });

    // A start the busy machine did not let listen in time is tried again: the stop is under test.
    const auto startAll = [&](const QList<Project>& list) {
        QList<qint32> pids;
        for (const Project& p : list) {
            for (int attempt = 0; attempt < 3 && !model->isRunning(p.id); ++attempt) {
                model->startInternal(p);
                waitUntil([&] { return !model->isStarting(p.id); }, 60000);
            }
            EXPECT_TRUE(model->isRunning(p.id)) << model->statusMessage().toStdString();
            pids.append(model->runningProjects().value(p.id));
        }
        QStringList text;
        for (qint32 pid : pids)
            text.append(QString::number(pid));
        writeFile(pidsFile, text.join(u' ').toUtf8());
        QFile::remove(records);
        return pids;
    };
    const auto expectStoppedTogether = [&](const QList<qint32>& pids) {
        for (qint32 pid : pids)
            EXPECT_TRUE(waitUntil([&] { return !Process::exists(pid); }, 20000)) << pid << " outlived the SIGKILL";
        QStringList lines = QString::fromUtf8(readFile(records)).split(u'\n', Qt::SkipEmptyParts);
        lines.sort();
        QStringList expected;
        for (qint32 pid : pids)
            expected.append(QStringLiteral("%1 %2").arg(pid).arg(pids.size()));
        expected.sort();
        EXPECT_EQ(lines, expected) << "each server got SIGTERM while all of them were alive";
    };

    QList<qint32> pids = startAll(projects);
    int changes = 0;
    QObject::connect(model.get(), &AppModel::runningProjectsChanged, [&] { ++changes; });
    QElapsedTimer timer;
    timer.start();
    model->stopAllProjects();
    // A lower bound only: the servers are given the ceiling before SIGKILL (a busy machine only
    // makes the wait longer).
    EXPECT_GE(timer.elapsed(), 1450) << "the ceiling is kept before SIGKILL";
    EXPECT_EQ(changes, 1) << "the rows are told once";
    EXPECT_TRUE(model->runningProjects().isEmpty());
    EXPECT_EQ(model->statusMessage(), QStringLiteral("All websites stopped."));
    expectStoppedTogether(pids);

    pids = startAll(projects);
    timer.restart();
    model->shutdown();
    EXPECT_GE(timer.elapsed(), 1450);
    EXPECT_TRUE(model->runningProjects().isEmpty());
    EXPECT_FALSE(model->isStarting("s1"));
    expectStoppedTogether(pids);
}

TEST_F(ProjectServers, StopAllLeavesPhpMyAdminAndStartingServersAlone)
{
    const quint16 portA = freePort();
    const quint16 portB = freePort();
    const quint16 portSlow = freePort();
    const quint16 portPma = freePort();
    const Project a = makeProject("a", "A", makeSite(path("a")), portA);
    const Project b = makeProject("b", "B", makeSite(path("b")), portB);
    const Project slow = makeProject("slow", "Slow", makeSite(path("slow")), portSlow);
    const Project pma = makeProject("phpmyadmin", "phpMyAdmin", makeSite(path("pma")), portPma);
    model->modifyConfig([&](AppConfig& c) {
        c.projects = {a, b, slow};
        c.phpMyAdminPort = portPma;
    });
    EXPECT_FALSE(model->hasRunningWebsites());

    model->startInternal(pma);
    ASSERT_TRUE(waitRunning("phpmyadmin"));
    EXPECT_EQ(model->phpMyAdminPid(), model->runningProjects().value("phpmyadmin"));
    EXPECT_FALSE(model->hasRunningWebsites()) << "phpMyAdmin is not a website of the list";

    model->startInternal(a);
    model->startInternal(b);
    ASSERT_TRUE(waitRunning("a"));
    ASSERT_TRUE(waitRunning("b"));
    EXPECT_TRUE(model->hasRunningWebsites());

    // A runtime that does not listen before its gate opens keeps "slow" in the starting state.
    const QString gate = path("slow-gate");
    selectRuntime(*model, writeGatedPhp(path("bin/lazy-php"), gate));
    model->startInternal(slow);
    ASSERT_TRUE(model->isStarting("slow"));

    const qint32 pidA = model->runningProjects().value("a");
    const qint32 pidB = model->runningProjects().value("b");
    model->stopAllProjects();
    EXPECT_EQ(model->statusMessage(), QStringLiteral("All websites stopped."));
    EXPECT_FALSE(model->isRunning("a"));
    EXPECT_FALSE(model->isRunning("b"));
    EXPECT_FALSE(Process::exists(pidA));
    EXPECT_FALSE(Process::exists(pidB));
    EXPECT_TRUE(model->isRunning("phpmyadmin"));
    EXPECT_TRUE(model->isStarting("slow"));
    EXPECT_EQ(curl(portPma, "/").body, QByteArray("front:/index.php:/"));

    // Shutdown stops everything still registered, starting or running.
    const qint32 pidPma = model->runningProjects().value("phpmyadmin");
    const QList<qint32> slowPids = processesMentioning(model->routersURL() + "/slow-router.php");
    QList<std::shared_ptr<ChildProcess>> shutDown{AppModelTestAccess::serverProcess(*model, "phpmyadmin"),
                                                  AppModelTestAccess::serverProcess(*model, "slow")};
    ASSERT_TRUE(shutDown[0] && shutDown[1]);
    model->shutdown();
    EXPECT_TRUE(model->runningProjects().isEmpty());
    EXPECT_FALSE(model->isStarting("slow"));
    EXPECT_FALSE(Process::exists(pidPma));
    EXPECT_FALSE(model->phpMyAdminPid().has_value()) << "the published pid follows phpMyAdmin's running entry";
    for (qint32 pid : slowPids)
        EXPECT_FALSE(Process::exists(pid));
    EXPECT_TRUE(processesMentioning(model->routersURL()).isEmpty());
    // No copy of the stopped runtime is left to start its server once the gate opens, and the
    // exits of those stopped say nothing.
    ASSERT_TRUE(waitHandled(std::move(shutDown)));
    writeFile(gate, "");
    ASSERT_TRUE(Dispatch::drainForTesting());
    EXPECT_TRUE(processesMentioning(model->routersURL()).isEmpty());
    EXPECT_EQ(model->statusMessage(), QStringLiteral("All websites stopped."));
}

TEST_F(ProjectServers, SuggestedPortSkipsUsedPorts)
{
    struct Case {
        QList<qint64> projectPorts;
        qint64 phpMyAdminPort;
        qint64 expected;
    };
    QList<qint64> all;
    for (qint64 p = 8082; p <= 65535; ++p)
        all.append(p);
    const Case cases[] = {
        {{}, 8081, 8082},
        {{8082, 8083}, 8081, 8084},
        {{8083}, 8082, 8084},
        {{80, 8000, 8081}, 9000, 8082},
        {{8082, 8084}, 8083, 8085},
        {all, 8081, 65535},
    };
    for (const Case& c : cases) {
        model->modifyConfig([&](AppConfig& config) {
            config.projects.clear();
            for (qint64 port : c.projectPorts)
                config.projects.append(makeProject(QString::number(port), "P", path("x"), port));
            config.phpMyAdminPort = c.phpMyAdminPort;
        });
        EXPECT_EQ(model->suggestedWebsitePort(), c.expected) << c.projectPorts.size();
    }
}

TEST_F(ProjectServers, ShowLogReadsTheServersOutput)
{
    // The log is read off the main thread: selectedLog follows once the read is back.
    model->showLog("never");
    EXPECT_TRUE(waitUntil([&] { return model->selectedLog() == QStringLiteral("No log yet."); }));
    model->setSelectedLog(QString());
    model->showLog("../config");
    EXPECT_EQ(model->selectedLog(), QStringLiteral("No log yet."));

    const quint16 port = freePort();
    model->startInternal(makeProject("logged", "Logged", makeSite(path("logged")), port));
    ASSERT_TRUE(waitRunning("logged"));
    writeFile(path("logged/noisy.php"), "<?php file_put_contents('php://stderr', 'noisy page ran'); echo 'ok';");
    EXPECT_EQ(curl(port, "/noisy.php").body, QByteArray("ok"));
    ASSERT_TRUE(waitUntil([&] {
        model->showLog("logged");
        return model->selectedLog().contains("noisy page ran");
    })) << model->selectedLog().toStdString();
    EXPECT_TRUE(model->selectedLog().contains(QStringLiteral("Development Server (http://127.0.0.1:%1) started").arg(port)));
    model->stopProcess("logged");
    // The next start empties the log.
    writeFile(model->logsURL() + "/logged.log", "old text\n");
    model->startInternal(makeProject("logged", "Logged", path("logged"), port));
    model->setSelectedLog("before the read");
    model->showLog("logged");
    ASSERT_TRUE(waitUntil([&] { return model->selectedLog() != "before the read"; }));
    EXPECT_FALSE(model->selectedLog().contains("old text"));
}

TEST_F(ProjectServers, ModelDestroyedWhileProbingDropsTheResult)
{
    const quint16 port = freePort();
    model->startInternal(makeProject("orphan", "Orphan", makeSite(path("orphan")), port));
    const QList<qint32> pids = processesMentioning(model->routersURL() + "/orphan-router.php");
    model.reset();
    // The probe ends and hands its result to a model that is gone.
    ASSERT_TRUE(Dispatch::drainForTesting());
    for (qint32 pid : pids) {
        ::kill(pid, SIGKILL);
        EXPECT_TRUE(waitUntil([&] { return !Process::exists(pid); }, 20000));
    }
}

TEST_F(ProjectServers, WithoutAStorageFolderNothingIsWrittenOutsideIt)
{
    Platform bare = platform.platform;
    bare.storageRoot.clear();
    AppModel homeless(bare);
    selectRuntime(homeless, php);
    const QString id = QStringLiteral("kovani-no-storage-%1").arg(::getpid());
    const QStringList strays = {QStringLiteral("/%1-router.php").arg(id), QStringLiteral("/%1.log").arg(id)};

    homeless.startInternal(makeProject(id, "Homeless", makeSite(path("homeless")), freePort()));
    waitUntil([&] { return !homeless.isStarting(id); }, 8000);
    homeless.shutdown();
    for (const QString& stray : strays) {
        EXPECT_FALSE(QFileInfo::exists(stray)) << stray.toStdString();
        QFile::remove(stray);
    }
    // A log of that name at the file-system root is never read (only a user who may write
    // there can plant one).
    if (QFileInfo(QStringLiteral("/")).isWritable())
        writeFile(strays.last(), "not ours");
    homeless.showLog(id);
    ASSERT_TRUE(Dispatch::drainForTesting());
    EXPECT_EQ(homeless.selectedLog(), QStringLiteral("No log yet."));
    QFile::remove(strays.last());
}
