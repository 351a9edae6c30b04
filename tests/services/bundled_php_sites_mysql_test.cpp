// Websites served by the model on the bundled PHP 8.5 runtime against the test MariaDB: a page
// that uses mysqli and PDO MySQL, and the installer of Debian's WordPress package.
#include "services/ServerTestKit.h"
#include "support/MariaDbFixture.h"

#include <QRegularExpression>
#include <QUrlQuery>

#include <unistd.h>

using namespace ServerTestKit;
using TestEnvironment::freePort;

namespace {

// One POST of form fields through the real curl.
Reply post(qint64 port, const QString& path, const QList<QPair<QString, QString>>& fields)
{
    QTemporaryDir dir;
    const QString bodyFile = dir.path() + QStringLiteral("/body");
    QStringList arguments{QStringLiteral("-s"), QStringLiteral("--max-time"), QStringLiteral("120"), QStringLiteral("-o"), bodyFile,
                          QStringLiteral("-w"), QStringLiteral("%{http_code} %{content_type}")};
    for (const auto& [name, value] : fields)
        arguments << QStringLiteral("--data-urlencode") << name + u'=' + value;
    arguments << QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path);
    QProcess process;
    process.start(QStringLiteral("/usr/bin/curl"), arguments);
    process.waitForFinished(150000);
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    Reply reply;
    reply.status = out.section(u' ', 0, 0).toInt();
    reply.contentType = out.section(u' ', 1);
    reply.body = readFile(bodyFile);
    return reply;
}

// One request through the real curl with a cookie jar kept across requests, redirects followed
// (a POST when there are fields); the body, a line break, then the status and content type.
QString visitWithCookies(qint64 port, const QString& jar, const QString& target,
                         const QList<QPair<QString, QString>>& fields = {})
{
    QStringList arguments{QStringLiteral("-s"), QStringLiteral("-L"), QStringLiteral("--max-time"), QStringLiteral("60"),
                          QStringLiteral("-c"), jar, QStringLiteral("-b"), jar, QStringLiteral("-w"),
                          QStringLiteral("\n%{http_code} %{content_type}")};
    for (const auto& [name, value] : fields)
        arguments << QStringLiteral("--data-urlencode") << name + u'=' + value;
    arguments << QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(target);
    QProcess process;
    process.start(QStringLiteral("/usr/bin/curl"), arguments);
    process.waitForFinished(90000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

class BundledPhpSites : public ServerTest {
protected:
    void SetUp() override
    {
        ServerTest::SetUp();
        ASSERT_TRUE(MariaDbFixture::available()) << "the test MariaDB server is not running";
        MariaDbFixture::resetRootPassword();
    }
    void TearDown() override
    {
        for (const QString& name : databases)
            MariaDbFixture::dropDatabase(name);
        ServerTest::TearDown();
    }

    QString createDatabase(const QString& stem)
    {
        const QString name = QStringLiteral("%1_%2").arg(stem).arg(::getpid());
        MariaDbFixture::dropDatabase(name);
        EXPECT_TRUE(MariaDbFixture::runAdminSql(QStringLiteral("CREATE DATABASE `%1`;").arg(name)).ok());
        databases << name;
        return name;
    }

    QString log(const QString& id) const { return QString::fromUtf8(readFile(model->logsURL() + u'/' + id + QStringLiteral(".log"))); }

    QStringList databases;
};

} // namespace

TEST_F(BundledPhpSites, PageUsesMysqliAndPdoAgainstTheDatabase)
{
    const QString database = createDatabase(QStringLiteral("kovani_mysqli"));
    MariaDbFixture::runAdminSql(QStringLiteral("CREATE TABLE `%1`.notes (text VARCHAR(40)); INSERT INTO `%1`.notes VALUES ('stored row');")
                                    .arg(database));
    const QString root = path("mysqli-site");
    writeFile(root + QStringLiteral("/index.php"),
              QStringLiteral("<?php\n"
                             "mysqli_report(MYSQLI_REPORT_ERROR | MYSQLI_REPORT_STRICT);\n"
                             "$db = new mysqli('127.0.0.1', 'root', '', '%1', %2);\n"
                             "echo 'mysqli:', $db->query('SELECT text FROM notes')->fetch_row()[0], \"\\n\";\n"
                             "$pdo = new PDO('mysql:host=127.0.0.1;port=%2;dbname=%1', 'root', '');\n"
                             "echo 'pdo:', $pdo->query('SELECT COUNT(*) FROM notes')->fetchColumn(), \"\\n\";\n"
                             "echo 'php:', PHP_VERSION, \"\\n\";\n")
                  .arg(database)
                  .arg(MariaDbFixture::port())
                  .toUtf8());
    const Project p = makeProject("mysqli", "Mysqli", root, freePort());
    model->startInternal(p);
    ASSERT_TRUE(waitRunning(p.id, 30000)) << model->statusMessage().toStdString();
    EXPECT_EQ(procCmdline(model->runningProjects().value(p.id)).value(0), php);

    const Reply reply = curl(p.port, "/");
    EXPECT_EQ(reply.status, 200);
    const QString body = QString::fromUtf8(reply.body);
    EXPECT_TRUE(body.startsWith(QStringLiteral("mysqli:stored row\npdo:1\nphp:8.5."))) << body.toStdString();
    // The server's log holds the request and no warning.
    EXPECT_FALSE(log(p.id).contains(QStringLiteral("Warning"))) << log(p.id).toStdString();
    EXPECT_FALSE(log(p.id).contains(QStringLiteral("Deprecated"))) << log(p.id).toStdString();
}

TEST_F(BundledPhpSites, LocalhostReachesTheDatabaseThroughItsSocket)
{
    // "localhost" makes mysqli and PDO use the runtime's default socket: the private server's in
    // the storage folder, or the system server's.
    const QString fixtureSocket = MariaDbFixture::dir() + QStringLiteral("/mysqld.sock");
    ASSERT_TRUE(QFileInfo::exists(fixtureSocket));
    const QString database = createDatabase(QStringLiteral("kovani_localhost"));
    const QString root = path("localhost-site");
    writeFile(root + QStringLiteral("/index.php"),
              QStringLiteral("<?php\n"
                             "mysqli_report(MYSQLI_REPORT_ERROR | MYSQLI_REPORT_STRICT);\n"
                             "$db = new mysqli('localhost', 'root', '', '%1');\n"
                             "echo 'mysqli:', $db->query('SELECT DATABASE()')->fetch_row()[0], ':', $db->host_info, \"\\n\";\n"
                             "$pdo = new PDO('mysql:host=localhost;dbname=%1', 'root', '');\n"
                             "echo 'pdo:', $pdo->query('SELECT DATABASE()')->fetchColumn(), \"\\n\";\n")
                  .arg(database)
                  .toUtf8());
    const QString expected = QStringLiteral("mysqli:%1:Localhost via UNIX socket\npdo:%1\n").arg(database);

    struct Case {
        const char* label;
        bool privateServer;
    };
    for (const Case c : {Case{"private server", true}, Case{"system server", false}}) {
        SCOPED_TRACE(c.label);
        Platform p = platform.platform;
        const QString ownSocket = model->appSupport() + QStringLiteral("/mysql.sock");
        QFile::remove(ownSocket);
        if (c.privateServer) {
            ASSERT_TRUE(QFile::link(fixtureSocket, ownSocket));
            p.systemMySQLSocket = path("no-system-server.sock");
        } else {
            p.systemMySQLSocket = fixtureSocket;
        }
        model->shutdown();
        model = std::make_unique<AppModel>(p);
        selectRuntime(*model, php);
        const Project project = makeProject(QStringLiteral("localhost-%1").arg(c.privateServer), "Localhost", root, freePort());
        model->startInternal(project);
        ASSERT_TRUE(waitRunning(project.id, 30000)) << model->statusMessage().toStdString();
        const Reply reply = curl(project.port, "/");
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(QString::fromUtf8(reply.body), expected);
    }
}

TEST_F(BundledPhpSites, DebianWordPressPackageInstallerCompletes)
{
    const QString package = QStringLiteral(KOVANI_TEST_WORDPRESS_PACKAGE);
    ASSERT_TRUE(QFileInfo::exists(package + QStringLiteral("/usr/share/wordpress/wp-admin/install.php")))
        << package.toStdString() << " is missing: scripts/setup-debian.sh unpacks Debian's wordpress package there";

    // The package's files in this test's folder; its wp-config.php reads the host's configuration
    // from /etc/wordpress, here from the test's own etc/wordpress.
    const QString site = path("wordpress");
    const QString content = path("wp-content");
    ASSERT_EQ(QProcess::execute(QStringLiteral("/bin/cp"), {QStringLiteral("-a"), QStringLiteral("--"),
                                                            package + QStringLiteral("/usr/share/wordpress"), site}), 0);
    ASSERT_EQ(QProcess::execute(QStringLiteral("/bin/cp"), {QStringLiteral("-a"), QStringLiteral("--"),
                                                            package + QStringLiteral("/var/lib/wordpress/wp-content"), content}), 0);
    QString config = QString::fromUtf8(readFile(site + QStringLiteral("/wp-config.php")));
    ASSERT_TRUE(config.contains(QStringLiteral("/etc/wordpress/config-")));
    config.replace(QStringLiteral("/etc/wordpress/"), path("etc/wordpress/"));
    config.replace(QStringLiteral("'/usr/share/wordpress/'"), u'\'' + site + QStringLiteral("/'"));
    config.replace(QStringLiteral("/var/lib/wordpress/wp-content"), content);
    writeFile(site + QStringLiteral("/wp-config.php"), config.toUtf8());

    const QString database = createDatabase(QStringLiteral("kovani_wordpress"));
    // WordPress may reach only itself and localhost: nothing leaves the machine.
    writeFile(path("etc/wordpress/config-127.0.0.1.php"),
              QStringLiteral("<?php\n"
                             "define('DB_NAME', '%1');\n"
                             "define('DB_USER', 'root');\n"
                             "define('DB_PASSWORD', '');\n"
                             "define('DB_HOST', 'localhost');\n"
                             "define('WP_HTTP_BLOCK_EXTERNAL', true);\n")
                  .arg(database)
                  .toUtf8());
    // WordPress's own default host, "localhost": the socket of the private server.
    ASSERT_TRUE(QFile::link(MariaDbFixture::dir() + QStringLiteral("/mysqld.sock"), model->appSupport() + QStringLiteral("/mysql.sock")));

    const Project p = makeProject("wordpress-package", "WordPress", site, freePort());
    model->startInternal(p);
    ASSERT_TRUE(waitRunning(p.id, 30000)) << model->statusMessage().toStdString();

    const Reply form = curl(p.port, "/wp-admin/install.php?step=1");
    EXPECT_EQ(form.status, 200) << form.body.toStdString();
    EXPECT_TRUE(form.body.contains("weblog_title")) << form.body.toStdString();

    const Reply installed = post(p.port, QStringLiteral("/wp-admin/install.php?step=2"),
                                 {{QStringLiteral("weblog_title"), QStringLiteral("Kovani on PHP 8.5")},
                                  {QStringLiteral("user_name"), QStringLiteral("kovani")},
                                  {QStringLiteral("admin_password"), QStringLiteral("Kovani-test-password-85")},
                                  {QStringLiteral("admin_password2"), QStringLiteral("Kovani-test-password-85")},
                                  {QStringLiteral("pw_weak"), QStringLiteral("1")},
                                  {QStringLiteral("admin_email"), QStringLiteral("developer@example.test")},
                                  {QStringLiteral("blog_public"), QStringLiteral("0")},
                                  {QStringLiteral("language"), QString()}});
    EXPECT_EQ(installed.status, 200) << log(p.id).toStdString();
    EXPECT_TRUE(installed.body.contains("Success!")) << installed.body.toStdString() << log(p.id).toStdString();

    const auto sql = [&](const QString& query) {
        return MariaDbFixture::runAdminSql(query.arg(database)).output.trimmed();
    };
    EXPECT_EQ(sql(QStringLiteral("SELECT user_login FROM `%1`.wp_users;")), QStringLiteral("kovani"));
    EXPECT_EQ(sql(QStringLiteral("SELECT option_value FROM `%1`.wp_options WHERE option_name = 'blogname';")),
              QStringLiteral("Kovani on PHP 8.5"));
    EXPECT_EQ(sql(QStringLiteral("SELECT option_value FROM `%1`.wp_options WHERE option_name = 'siteurl';")),
              QStringLiteral("http://127.0.0.1:%1").arg(p.port));

    // The installed site signs its user in.
    Reply login;
    EXPECT_TRUE(TestEnvironment::waitUntil(
        [&] {
            login = curl(p.port, "/wp-login.php");
            return login.status == 200;
        },
        90000))
        << log(p.id).toStdString();
    EXPECT_TRUE(login.body.contains("user_login")) << login.body.toStdString();

    // The dashboard is its folder's index.php, not the blog's front page: a visitor who is not
    // signed in is sent to the login page.
    Reply admin;
    TestEnvironment::waitUntil(
        [&] {
            admin = curl(p.port, "/wp-admin/");
            return admin.status != 0;
        },
        90000);
    EXPECT_EQ(admin.status, 302) << admin.body.left(400).toStdString();
    EXPECT_TRUE(admin.location.contains(QStringLiteral("/wp-login.php"))) << admin.location.toStdString();

    // Signed in, the dashboard shows, with no error of PHP in it now that errors reach the page.
    const QString jar = path("cookies");
    visitWithCookies(p.port, jar, QStringLiteral("/wp-login.php"));
    const QString dashboard = visitWithCookies(p.port, jar, QStringLiteral("/wp-login.php"),
                                               {{QStringLiteral("log"), QStringLiteral("kovani")},
                                                {QStringLiteral("pwd"), QStringLiteral("Kovani-test-password-85")},
                                                {QStringLiteral("testcookie"), QStringLiteral("1")},
                                                {QStringLiteral("redirect_to"), QStringLiteral("http://127.0.0.1:%1/wp-admin/").arg(p.port)}});
    EXPECT_TRUE(dashboard.endsWith(QStringLiteral("200 text/html; charset=UTF-8"))) << dashboard.right(200).toStdString();
    EXPECT_TRUE(dashboard.contains(QStringLiteral("<title>Dashboard"))) << dashboard.left(3000).toStdString();
    for (const char* error : {"Warning</b>:", "Fatal error</b>:", "Notice</b>:", "Deprecated</b>:"})
        EXPECT_FALSE(dashboard.contains(QString::fromLatin1(error))) << error;
}

TEST_F(BundledPhpSites, DebianPhpMyAdminLayoutSignsIn)
{
    const QString package = QStringLiteral(KOVANI_TEST_PHPMYADMIN_PACKAGE);
    ASSERT_TRUE(QFileInfo::exists(package + QStringLiteral("/usr/share/phpmyadmin/index.php")))
        << package.toStdString() << " is missing: scripts/setup-debian.sh unpacks Debian's phpmyadmin package there";

    // The unpacked packages in this test's folder: phpMyAdmin links its JavaScript in from
    // usr/share/javascript, outside its folder, and finds its libraries in usr/share/php through
    // the include path, set in the user's own ini folder.
    const QString tree = path("debian");
    ASSERT_EQ(QProcess::execute(QStringLiteral("/bin/cp"), {QStringLiteral("-a"), QStringLiteral("--"), package, tree}), 0);
    const QString root = tree + QStringLiteral("/usr/share/phpmyadmin");
    ASSERT_TRUE(QFileInfo(root + QStringLiteral("/js/vendor/jquery/jquery.min.js")).isSymLink());
    const QString vendorConfig = root + QStringLiteral("/libraries/vendor_config.php");
    QString vendor = QString::fromUtf8(readFile(vendorConfig));
    vendor.replace(QStringLiteral("'/etc/phpmyadmin/config.inc.php'"), u'\'' + path("config.inc.php") + u'\'');
    vendor.replace(QStringLiteral("'/var/lib/phpmyadmin/tmp/'"), u'\'' + path("pma-tmp/") + u'\'');
    writeFile(vendorConfig, vendor.toUtf8());
    QDir().mkpath(path("pma-tmp"));
    writeFile(path("config.inc.php"), "<?php\n"
                                      "$cfg['blowfish_secret'] = 'kovani-test-secret-of-32-bytes!!';\n"
                                      "$cfg['Servers'][1]['auth_type'] = 'cookie';\n"
                                      "$cfg['Servers'][1]['host'] = 'localhost';\n"
                                      "$cfg['Servers'][1]['AllowNoPassword'] = true;\n");
    writeFile(model->phpUserIniFolder() + QStringLiteral("/debian.ini"),
              QStringLiteral("include_path = \".:%1/usr/share/php\"\n").arg(tree).toUtf8());
    ASSERT_TRUE(QFile::link(MariaDbFixture::dir() + QStringLiteral("/mysqld.sock"), model->appSupport() + QStringLiteral("/mysql.sock")));

    const Project p = makeProject("debian-phpmyadmin", "phpMyAdmin", root, freePort());
    model->startInternal(p);
    ASSERT_TRUE(waitRunning(p.id, 30000)) << model->statusMessage().toStdString();

    const QString jar = path("cookies");
    const auto visit = [&](const QString& target, const QList<QPair<QString, QString>>& fields = {}) {
        return visitWithCookies(p.port, jar, target, fields);
    };
    const QString login = visit(QStringLiteral("/"));
    ASSERT_TRUE(login.contains(QStringLiteral("name=\"pma_username\""))) << login.left(2000).toStdString() << log(p.id).toStdString();
    // Its jQuery, not the login page.
    const QString jquery = visit(QStringLiteral("/js/vendor/jquery/jquery.min.js?v=1"));
    EXPECT_TRUE(jquery.startsWith(QStringLiteral("/*! jQuery v"))) << jquery.left(200).toStdString();
    EXPECT_TRUE(jquery.endsWith(QStringLiteral("200 application/javascript"))) << jquery.right(100).toStdString();
    const QString theme = visit(QStringLiteral("/themes/pmahomme/jquery/jquery-ui.css"));
    EXPECT_TRUE(theme.endsWith(QStringLiteral("200 text/css; charset=UTF-8"))) << theme.right(100).toStdString();

    const auto hidden = [&](const QString& name) {
        const QRegularExpression field(QStringLiteral("name=\"%1\" value=\"([^\"]*)\"").arg(name));
        return field.match(login).captured(1);
    };
    ASSERT_FALSE(hidden(QStringLiteral("token")).isEmpty()) << login.left(2000).toStdString();
    const QString signedIn = visit(QStringLiteral("/index.php?route=/"),
                                   {{QStringLiteral("route"), QStringLiteral("/")},
                                    {QStringLiteral("token"), hidden(QStringLiteral("token"))},
                                    {QStringLiteral("set_session"), hidden(QStringLiteral("set_session"))},
                                    {QStringLiteral("pma_username"), QStringLiteral("root")},
                                    {QStringLiteral("pma_password"), QString()},
                                    {QStringLiteral("server"), QStringLiteral("1")}});
    EXPECT_TRUE(signedIn.endsWith(QStringLiteral("200 text/html; charset=utf-8"))) << signedIn.right(100).toStdString();
    EXPECT_FALSE(signedIn.contains(QStringLiteral("name=\"pma_username\""))) << signedIn.left(3000).toStdString();
    EXPECT_TRUE(signedIn.contains(QStringLiteral("Localhost via UNIX socket"))) << signedIn.left(3000).toStdString();
    EXPECT_FALSE(log(p.id).contains(QStringLiteral("Fatal error"))) << log(p.id).toStdString();
}
