// Websites served by the model on the bundled PHP 8.5 runtime against the test MariaDB: a page
// that uses mysqli and PDO MySQL, and the installer of Debian's WordPress package.
#include "services/ServerTestKit.h"
#include "support/MariaDbFixture.h"

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
                             "define('DB_HOST', '127.0.0.1:%2');\n"
                             "define('WP_HTTP_BLOCK_EXTERNAL', true);\n")
                  .arg(database)
                  .arg(MariaDbFixture::port())
                  .toUtf8());

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

    // The installed site signs its user in. The installer's requests to the site itself (the
    // permalink check) wait in the single-threaded server's queue first.
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
    // signed in is sent to the login page. (WordPress's own requests to its cron may queue first.)
    Reply admin;
    TestEnvironment::waitUntil(
        [&] {
            admin = curl(p.port, "/wp-admin/");
            return admin.status != 0;
        },
        90000);
    EXPECT_EQ(admin.status, 302) << admin.body.left(400).toStdString();
    EXPECT_TRUE(admin.location.contains(QStringLiteral("/wp-login.php"))) << admin.location.toStdString();
}
