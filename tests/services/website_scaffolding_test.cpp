// Laravel and WordPress scaffolding: the pure text helpers, and the steps run for real (curl,
// unzip, cp, PHP, the installed Composer) against a loopback server.
#include "app/AppModel.h"
#include "platform/Dispatch.h"
#include "services/WebsiteScaffolding.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestEnvironment.h"
#include "support/WebsiteFixtures.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonArray>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace WebsiteScaffolding;

namespace {

using TestFiles::readText;

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QStringList workFolders(const QString& tools)
{
    return QDir(tools).entryList({QStringLiteral("WebsiteCreation-*")}, QDir::AllEntries | QDir::Hidden);
}

// Runs `php -r code` in `folder` and returns its output.
QString runPhp(const QString& folder, const QString& code)
{
    QProcess php;
    php.setWorkingDirectory(folder);
    php.setProcessEnvironment(BundledPhp::environment());
    php.start(BundledPhp::binary(), BundledPhp::arguments({QStringLiteral("-r"), code}));
    php.waitForFinished(15000);
    return QString::fromUtf8(php.readAllStandardOutput() + php.readAllStandardError());
}

// Parses a ".env" file with phpdotenv, the reader Laravel uses (Debian's php-vlucas-phpdotenv).
std::optional<QJsonObject> parseDotenv(const QString& path)
{
    const QString reader = QStringLiteral("/usr/share/php/Dotenv/autoload.php");
    if (!QFileInfo::exists(reader))
        return std::nullopt;
    QProcess php;
    php.setProcessEnvironment(BundledPhp::environment());
    php.start(BundledPhp::binary(), BundledPhp::arguments({QStringLiteral("-r"),
               QStringLiteral("require '%1'; echo json_encode(Dotenv\\Dotenv::parse(file_get_contents($argv[1])));").arg(reader),
               path}));
    php.waitForFinished(15000);
    const QJsonDocument doc = QJsonDocument::fromJson(php.readAllStandardOutput());
    if (!doc.isObject())
        return QJsonObject{{QStringLiteral("error"), QString::fromUtf8(php.readAllStandardError())}};
    return doc.object();
}

} // namespace

// ---- setEnvironmentValue ----------------------------------------------------------------------

struct EnvCase {
    const char* label;
    QString text;
    QString key;
    QString value;
    QString expected;
};

TEST(SetEnvironmentValue, Table)
{
    const QList<EnvCase> cases = {
        {"replaces the line", "A=1\nDB_HOST=old\nB=2\n", "DB_HOST", "127.0.0.1", "A=1\nDB_HOST=127.0.0.1\nB=2\n"},
        {"activates a line commented directly", "A=1\n#DB_HOST=old\n", "DB_HOST", "h", "A=1\nDB_HOST=h\n"},
        {"leaves '# KEY' and appends", "# DB_HOST=old\n", "DB_HOST", "h", "# DB_HOST=old\n\nDB_HOST=h\n"},
        {"appends after a final newline", "A=1\n", "APP_URL", "http://localhost:8082", "A=1\n\nAPP_URL=http://localhost:8082\n"},
        {"appends without a final newline", "A=1", "APP_URL", "u", "A=1\nAPP_URL=u\n"},
        {"every matching line", "K=1\nX=2\n#K=3\n", "K", "v", "K=v\nX=2\nK=v\n"},
        {"dollar-digit literal", "P=x\n", "P", "a$1b$0", "P=a$1b$0\n"},
        {"backslash-digit literal", "P=x\n", "P", "a\\1\\0b\\\\", "P=a\\1\\0b\\\\\n"},
        {"ampersand and quotes literal", "P=x\n", "P", "&\"'`", "P=&\"'`\n"},
        {"CRLF line ends stay", "A=1\r\nDB_HOST=old\r\nB=2\r\n", "DB_HOST", "$1", "A=1\r\nDB_HOST=$1\r\nB=2\r\n"},
        {"key is literal", "AxB=1\n", "A.B", "2", "AxB=1\n\nA.B=2\n"},
        {"longer key is another key", "DB_HOST_EXTRA=1\n", "DB_HOST", "h", "DB_HOST_EXTRA=1\n\nDB_HOST=h\n"},
        {"key in the middle of a line", "XDB_HOST=1\n", "DB_HOST", "h", "XDB_HOST=1\n\nDB_HOST=h\n"},
        {"empty value", "P=x\n", "P", "", "P=\n"},
        {"empty text", "", "K", "v", "\nK=v\n"},
    };
    for (const EnvCase& c : cases)
        EXPECT_EQ(setEnvironmentValue(c.text, c.key, c.value), c.expected) << c.label;
}

// ---- replaceWordPressConstant -----------------------------------------------------------------

TEST(ReplaceWordPressConstant, Table)
{
    struct Case {
        const char* label;
        QString text;
        QString name;
        QString value;
        QString expected;
    };
    const QList<Case> cases = {
        {"sample line", "define( 'DB_NAME', 'database_name_here' );\n", "DB_NAME", "shop",
         "define( 'DB_NAME', 'shop' );\n"},
        {"compact spacing", "define('DB_USER','u');", "DB_USER", "root", "define( 'DB_USER', 'root' );"},
        {"quote and backslash escaped", "define( 'DB_PASSWORD', 'x' );", "DB_PASSWORD", "it's\\a",
         "define( 'DB_PASSWORD', 'it\\'s\\\\a' );"},
        {"dollar, backslash-digit and ampersand literal", "define( 'DB_PASSWORD', 'x' );", "DB_PASSWORD", "$1\\1&$0",
         "define( 'DB_PASSWORD', '$1\\\\1&$0' );"},
        {"double quotes untouched", "define( 'DB_PASSWORD', 'x' );", "DB_PASSWORD", "a\"b",
         "define( 'DB_PASSWORD', 'a\"b' );"},
        {"every match", "define( 'DB_HOST', 'a' );\ndefine( 'DB_HOST', 'b' );\n", "DB_HOST", "h:1",
         "define( 'DB_HOST', 'h:1' );\ndefine( 'DB_HOST', 'h:1' );\n"},
        {"no match: unchanged", "define( 'OTHER', 'a' );\n", "DB_HOST", "h", "define( 'OTHER', 'a' );\n"},
        {"old value across lines does not match", "define( 'DB_NAME', 'a\nb' );", "DB_NAME", "c",
         "define( 'DB_NAME', 'a\nb' );"},
        {"CRLF line ends stay", "<?php\r\ndefine( 'DB_NAME', 'x' );\r\n$t = 1;\r\n", "DB_NAME", "db",
         "<?php\r\ndefine( 'DB_NAME', 'db' );\r\n$t = 1;\r\n"},
        {"name is literal", "define( 'DBxNAME', 'x' );", "DB.NAME", "y", "define( 'DBxNAME', 'x' );"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(replaceWordPressConstant(c.text, c.name, c.value), c.expected) << c.label;
}

TEST(ReplaceWordPressConstant, ValueReadsBackInPhp)
{
    QTemporaryDir dir;
    const QString value = QStringLiteral("p'a\\ss $1 \\' \"x\" &");
    const QString text = replaceWordPressConstant(QStringLiteral("<?php define( 'DB_PASSWORD', 'x' );\n"),
                                                  QStringLiteral("DB_PASSWORD"), value);
    writeBytes(dir.path() + QStringLiteral("/c.php"), text.toUtf8());
    EXPECT_EQ(runPhp(dir.path(), QStringLiteral("require 'c.php'; echo DB_PASSWORD;")), value);
}

// ---- salts ------------------------------------------------------------------------------------

TEST(LocalWordPressSalts, EightLinesOf64SafeCharacters)
{
    const QString block = localWordPressSalts();
    const QStringList lines = block.split(u'\n');
    ASSERT_EQ(lines.size(), 8);
    EXPECT_FALSE(block.endsWith(u'\n'));
    const QRegularExpression line(QStringLiteral("^define\\( '([A-Z_]+)', '([A-Za-z0-9_-]{64})' \\);$"));
    QSet<QString> values;
    for (int i = 0; i < 8; ++i) {
        const auto m = line.match(lines[i]);
        ASSERT_TRUE(m.hasMatch()) << lines[i].toStdString();
        EXPECT_EQ(m.captured(1), saltNames()[i]);
        values.insert(m.captured(2));
    }
    EXPECT_EQ(values.size(), 8);
    EXPECT_NE(localWordPressSalts(), block);
    EXPECT_TRUE(isWellFormedSaltBlock(block));
}

TEST(SaltBlock, OnlyTheEightDefinitionsAreAccepted)
{
    EXPECT_TRUE(isWellFormedSaltBlock(QString::fromUtf8(WebsiteFixtures::saltReply()).trimmed()));
    const QStringList lines = QString::fromUtf8(WebsiteFixtures::saltReply()).trimmed().split(u'\n');
    QStringList injected = lines;
    injected[3] = QStringLiteral("define('NONCE_KEY', 'x'); system('id'); //');");
    QStringList reordered = lines;
    std::swap(reordered[0], reordered[1]);
    QStringList escaped = lines;
    escaped[2] = QStringLiteral("define('LOGGED_IN_KEY', 'a\\');");
    for (const QString& bad : {lines.mid(0, 7).join(u'\n'), injected.join(u'\n'), reordered.join(u'\n'),
                               escaped.join(u'\n'), QStringLiteral("<html>AUTH_KEY</html>"), QString()})
        EXPECT_FALSE(isWellFormedSaltBlock(bad)) << bad.toStdString();
}

// ---- .env values ------------------------------------------------------------------------------

TEST(DotenvValue, PlainWhenSafeQuotedOtherwise)
{
    const QList<QPair<QString, QString>> cases = {
        {"kelp", "kelp"},
        {"", ""},
        {"$1", "$1"},
        {"a\\b", "a\\b"},
        {"p=q&r", "p=q&r"},
        {"pa ss", "\"pa ss\""},
        {"a#b", "\"a#b\""},
        {"a\"b", "\"a\\\"b\""},
        {"a'b", "\"a'b\""},
        {"x\\ y", "\"x\\\\ y\""},
        {"${HOME}", "\"\\${HOME}\""},
        {" lead", "\" lead\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(dotenvValue(c.first), c.second) << c.first.toStdString();
    EXPECT_EQ(dotenvQuoted(QStringLiteral("My \"Site\" \\ $x")), QStringLiteral("\"My \\\"Site\\\" \\\\ \\$x\""));
}

TEST(DotenvValue, LaravelReadsBackWhatWasTyped)
{
    QTemporaryDir dir;
    const QStringList values = {"kelp", "", "$1\\x", "pa ss", "a#b", " #lead", "q\"u'o`te", "${HOME}", "$HOME",
                                "back\\slash\\", "p=q&r", "tab\there", "ünï €"};
    QString text;
    for (qsizetype i = 0; i < values.size(); ++i) {
        text = setEnvironmentValue(text, QStringLiteral("V%1").arg(i), dotenvValue(values[i]));
        text = setEnvironmentValue(text, QStringLiteral("Q%1").arg(i), dotenvQuoted(values[i]));
    }
    const QString path = dir.path() + QStringLiteral("/.env");
    writeBytes(path, text.toUtf8());
    const std::optional<QJsonObject> parsed = parseDotenv(path);
    if (!parsed)
        GTEST_SKIP() << "php-vlucas-phpdotenv is not installed";
    for (qsizetype i = 0; i < values.size(); ++i) {
        EXPECT_EQ((*parsed)[QStringLiteral("V%1").arg(i)].toString(), values[i]) << values[i].toStdString();
        EXPECT_EQ((*parsed)[QStringLiteral("Q%1").arg(i)].toString(), values[i]) << values[i].toStdString();
    }
}

TEST(RemoteURL, FixedPathAfterTheBase)
{
    EXPECT_EQ(remoteURL(QStringLiteral("https://getcomposer.org"), composerDownloadPath),
              QStringLiteral("https://getcomposer.org/download/latest-stable/composer.phar"));
    EXPECT_EQ(remoteURL(QStringLiteral("http://127.0.0.1:5/"), wordpressSaltPath),
              QStringLiteral("http://127.0.0.1:5/secret-key/1.1/salt/"));
}

// ---- the steps, run for real --------------------------------------------------------------

// The application's limit is 60 s; the tests' stalled servers need not wait that long.
constexpr int kStallSeconds = 2;

// A reply that is held back far longer than the stall limit: nothing arrives.
LoopbackHttpServer::Reply stalled()
{
    LoopbackHttpServer::Reply reply = LoopbackHttpServer::Reply::text("late");
    reply.delayMs = 60000;
    return reply;
}

// curl's reason alone: one line, no progress table.
void expectOneLineReason(const QString& message, const QString& prefix)
{
    EXPECT_TRUE(message.startsWith(prefix + QStringLiteral("curl: ("))) << message.toStdString();
    EXPECT_FALSE(message.contains(u'\n')) << message.toStdString();
    EXPECT_FALSE(message.contains(QStringLiteral("% Total"))) << message.toStdString();
}

class ScaffoldingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        auto t = TestEnvironment::makePlatform(dir.path());
        t.platform.composerDownloadURL = server.baseURL();
        t.platform.wordpressDownloadURL = server.baseURL();
        t.platform.wordpressSaltURL = server.baseURL();
        t.platform.downloadStallSeconds = kStallSeconds;
        model = std::make_unique<AppModel>(t.platform);
        QObject::connect(model.get(), &AppModel::websiteCreationProgressChanged, model.get(),
                         [this]() { progress << model->websiteCreationProgress(); });
        mysql.host = QStringLiteral("127.0.0.1");
        mysql.port = 3307;
        mysql.user = QStringLiteral("root");
        mysql.password = QStringLiteral("kelp");
    }

    // Lets queued progress texts arrive.
    void drain() { ASSERT_TRUE(Dispatch::drainForTesting()); }

    QString dest(const QString& name = QStringLiteral("site")) const { return model->sitesURL() + u'/' + name; }
    QString tools() const { return model->toolsURL(); }

    QTemporaryDir dir;
    LoopbackHttpServer server;
    std::unique_ptr<AppModel> model;
    MySQLSettings mysql;
    QStringList progress;
};

class WordPressScaffoldingTest : public ScaffoldingTest {
protected:
    void serve(const LoopbackHttpServer::Reply& archive, const LoopbackHttpServer::Reply& salts)
    {
        server.setReply("/latest.zip", archive);
        server.setReply("/secret-key/1.1/salt/", salts);
    }
    static LoopbackHttpServer::Reply zip(const QByteArray& bytes)
    {
        return {200, {{"Content-Type", "application/zip"}}, bytes};
    }
};

TEST_F(WordPressScaffoldingTest, ConfiguresTheReleaseWithRemoteSalts)
{
    serve(zip(WebsiteFixtures::wordpressArchive()), LoopbackHttpServer::Reply::text(WebsiteFixtures::saltReply()));
    mysql.password = QStringLiteral("p'w\\ $1");
    const auto result = scaffoldWordPress(*model, dest(), QStringLiteral("my_blog"), mysql);
    ASSERT_FALSE(result) << result->text.toStdString();
    drain();

    EXPECT_EQ(progress, (QStringList{"Downloading WordPress...", "Installing WordPress files..."}));
    const QString config = readText(dest() + QStringLiteral("/wp-config.php"));
    EXPECT_TRUE(config.contains("define( 'DB_NAME', 'my_blog' );"));
    EXPECT_TRUE(config.contains("define( 'DB_USER', 'root' );"));
    EXPECT_TRUE(config.contains("define( 'DB_PASSWORD', 'p\\'w\\\\ $1' );"));
    EXPECT_TRUE(config.contains("define( 'DB_HOST', '127.0.0.1:3307' );"));
    EXPECT_TRUE(config.contains(QString::fromUtf8(WebsiteFixtures::saltReply()).trimmed()));
    EXPECT_FALSE(config.contains("put your unique phrase here"));
    EXPECT_TRUE(QFileInfo::exists(dest() + QStringLiteral("/wp-config-sample.php")));
    EXPECT_TRUE(QFileInfo::exists(dest() + QStringLiteral("/index.php")));
    EXPECT_TRUE(workFolders(tools()).isEmpty());
    EXPECT_EQ(runPhp(dest(), QStringLiteral("require 'wp-config.php'; echo DB_PASSWORD, '|', DB_HOST;")),
              QStringLiteral("p'w\\ $1|127.0.0.1:3307"));
}

TEST_F(WordPressScaffoldingTest, ArchiveThatUnpacksWithWarningsIsInstalled)
{
    // Bytes before the archive: unzip warns, unpacks everything and ends with status 1.
    serve(zip("leading bytes" + WebsiteFixtures::wordpressArchive()),
          LoopbackHttpServer::Reply::text(WebsiteFixtures::saltReply()));
    const auto result = scaffoldWordPress(*model, dest(), QStringLiteral("my_blog"), mysql);
    ASSERT_FALSE(result) << result->text.toStdString();
    EXPECT_TRUE(readText(dest() + QStringLiteral("/wp-config.php")).contains("define( 'DB_NAME', 'my_blog' );"));
    EXPECT_TRUE(QFileInfo::exists(dest() + QStringLiteral("/index.php")));
    EXPECT_TRUE(workFolders(tools()).isEmpty());
}

TEST_F(WordPressScaffoldingTest, SaltFallbacksUseLocalSalts)
{
    const QList<QPair<const char*, LoopbackHttpServer::Reply>> replies = {
        {"server error", LoopbackHttpServer::Reply::withStatus(500)},
        {"no AUTH_KEY", LoopbackHttpServer::Reply::text("define('SOMETHING', 'else');\n")},
        {"not only definitions", LoopbackHttpServer::Reply::text("<?php system('id'); define('AUTH_KEY', 'x'); ?>")},
    };
    int n = 0;
    for (const auto& [label, reply] : replies) {
        serve(zip(WebsiteFixtures::wordpressArchive()), reply);
        const QString target = dest(QStringLiteral("site%1").arg(++n));
        const auto result = scaffoldWordPress(*model, target, QStringLiteral("db"), mysql);
        ASSERT_FALSE(result) << label << result->text.toStdString();
        const QString config = readText(target + QStringLiteral("/wp-config.php"));
        const QRegularExpression local(QStringLiteral("define\\( '(AUTH_KEY|NONCE_SALT)', '[A-Za-z0-9_-]{64}' \\);"));
        EXPECT_EQ(config.count(local), 2) << label;
        EXPECT_FALSE(config.contains("put your unique phrase here")) << label;
        EXPECT_FALSE(config.contains("system(")) << label;
    }
    EXPECT_TRUE(workFolders(tools()).isEmpty());
}

TEST_F(WordPressScaffoldingTest, SampleWithoutSaltBlockGetsConstantsOnly)
{
    serve(zip(WebsiteFixtures::wordpressArchive(/*withSalts=*/false)),
          LoopbackHttpServer::Reply::text(WebsiteFixtures::saltReply()));
    ASSERT_FALSE(scaffoldWordPress(*model, dest(), QStringLiteral("db"), mysql));
    const QString config = readText(dest() + QStringLiteral("/wp-config.php"));
    EXPECT_TRUE(config.contains("define( 'DB_NAME', 'db' );"));
    EXPECT_FALSE(config.contains("AUTH_KEY"));
}

TEST_F(WordPressScaffoldingTest, FailuresReportTheirStepAndLeaveNoWorkFolder)
{
    LoopbackHttpServer::Reply cut = zip(WebsiteFixtures::wordpressArchive());
    cut.cutAfter = 100;
    const QByteArray noSample = WebsiteFixtures::zipArchive({{"wordpress/index.php", "<?php echo 1;"}});
    struct Case {
        const char* label;
        LoopbackHttpServer::Reply archive;
        QString prefix;
        bool destinationMayExist;
    };
    const QList<Case> cases = {
        {"404", LoopbackHttpServer::Reply::withStatus(404), "Could not download WordPress: ", false},
        {"cut off", cut, "Could not download WordPress: ", false},
        {"not a zip", LoopbackHttpServer::Reply::text("this is not a zip archive"), "Could not extract WordPress: ", false},
        {"no wordpress folder", zip(WebsiteFixtures::wordpressArchiveWithoutFolder()), "Could not install WordPress files: ", false},
        {"no sample", zip(noSample), "WordPress was downloaded, but wp-config-sample.php is missing.", true},
    };
    int n = 0;
    for (const Case& c : cases) {
        serve(c.archive, LoopbackHttpServer::Reply::text(WebsiteFixtures::saltReply()));
        const QString target = dest(QStringLiteral("fail%1").arg(++n));
        const auto result = scaffoldWordPress(*model, target, QStringLiteral("db"), mysql);
        ASSERT_TRUE(result) << c.label;
        EXPECT_TRUE(result->text.startsWith(c.prefix)) << c.label << ": " << result->text.toStdString();
        if (!c.destinationMayExist)
            EXPECT_FALSE(QFileInfo::exists(target)) << c.label;
        EXPECT_FALSE(QFileInfo::exists(target + QStringLiteral("/wp-config.php"))) << c.label;
        EXPECT_TRUE(workFolders(tools()).isEmpty()) << c.label;
    }
}

TEST_F(WordPressScaffoldingTest, DownloadFailuresGiveCurlsOneLineReasonAndAStallEndsIt)
{
    serve(LoopbackHttpServer::Reply::withStatus(404), LoopbackHttpServer::Reply::text(WebsiteFixtures::saltReply()));
    auto result = scaffoldWordPress(*model, dest(QStringLiteral("missing")), QStringLiteral("db"), mysql);
    ASSERT_TRUE(result);
    expectOneLineReason(result->text, QStringLiteral("Could not download WordPress: "));

    // A server that accepts and never sends: the download fails once the stall limit passes,
    // and is not tried again. Without the limit curl would wait for ever: the upper bounds below
    // leave a busy machine room.
    serve(stalled(), LoopbackHttpServer::Reply::text(WebsiteFixtures::saltReply()));
    server.clearRequests();
    QElapsedTimer timer;
    timer.start();
    result = scaffoldWordPress(*model, dest(QStringLiteral("stalled")), QStringLiteral("db"), mysql);
    ASSERT_TRUE(result);
    EXPECT_GE(timer.elapsed(), kStallSeconds * 1000 - 100);
    EXPECT_LT(timer.elapsed(), kStallSeconds * 1000 + 15000);
    expectOneLineReason(result->text, QStringLiteral("Could not download WordPress: "));
    EXPECT_TRUE(result->text.contains(QStringLiteral("too slow"))) << result->text.toStdString();
    EXPECT_EQ(server.requestCount("/latest.zip"), 1);
    EXPECT_FALSE(QFileInfo::exists(dest(QStringLiteral("stalled"))));
    EXPECT_TRUE(workFolders(tools()).isEmpty());

    // A stalled salt generator costs the stall limit and gives local salts.
    serve(zip(WebsiteFixtures::wordpressArchive()), stalled());
    timer.restart();
    ASSERT_FALSE(scaffoldWordPress(*model, dest(QStringLiteral("salted")), QStringLiteral("db"), mysql));
    EXPECT_LT(timer.elapsed(), kStallSeconds * 1000 + 15000);
    EXPECT_EQ(readText(dest(QStringLiteral("salted")) + QStringLiteral("/wp-config.php"))
                  .count(QRegularExpression(QStringLiteral("define\\( 'AUTH_KEY', '[A-Za-z0-9_-]{64}' \\);"))),
              1);
}

TEST_F(WordPressScaffoldingTest, ToolsSeePathsNeverAsOptions)
{
    // A destination whose name starts with "-" still reaches cp as a path.
    serve(zip(WebsiteFixtures::wordpressArchive()), LoopbackHttpServer::Reply::text(WebsiteFixtures::saltReply()));
    const QString target = QStringLiteral("-r");
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(model->sitesURL());
    const auto result = scaffoldWordPress(*model, target, QStringLiteral("db"), mysql);
    QDir::setCurrent(cwd);
    ASSERT_FALSE(result) << result->text.toStdString();
    EXPECT_TRUE(QFileInfo::exists(model->sitesURL() + QStringLiteral("/-r/wp-config.php")));
}

// ---- Laravel ----------------------------------------------------------------------------------

class LaravelScaffoldingTest : public ScaffoldingTest {
protected:
    void SetUp() override
    {
        ScaffoldingTest::SetUp();
        php = std::make_unique<PhpWrapper>(dir.path() + QStringLiteral("/php-bin"));
        fixture = dir.path() + QStringLiteral("/laravel-fixture");
        WebsiteFixtures::writeLaravelProject(fixture);
        WebsiteFixtures::writeComposerHome(tools() + QStringLiteral("/Composer"), fixture);
        server.setReply("/download/latest-stable/composer.phar", {200, {}, WebsiteFixtures::composerShim()});
    }

    std::optional<StatusText> scaffold(const QString& target, const QString& name = QStringLiteral("My Shop"))
    {
        return scaffoldLaravel(*model, target, name, 8082, QStringLiteral("my_shop"), php->binary(), mysql);
    }

    QList<QJsonObject> artisanCalls(const QString& target) const
    {
        QList<QJsonObject> calls;
        for (const QString& line : readText(target + QStringLiteral("/artisan-calls.log")).split(u'\n', Qt::SkipEmptyParts))
            calls << QJsonDocument::fromJson(line.toUtf8()).object();
        return calls;
    }

    std::unique_ptr<PhpWrapper> php;
    QString fixture;
};

TEST_F(LaravelScaffoldingTest, InstallsConfiguresAndGeneratesTheKey)
{
    mysql.password = QStringLiteral("$1\\x");
    const auto result = scaffold(dest(), QStringLiteral("My \"Shop\" $HOME \\o/"));
    ASSERT_FALSE(result) << result->text.toStdString();
    drain();

    EXPECT_EQ(progress, (QStringList{"Preparing Composer...", "Creating Laravel project. This may take a few minutes...",
                                     "Generating Laravel application key..."}));
    EXPECT_EQ(server.requestCount("/download/latest-stable/composer.phar"), 1);
    EXPECT_TRUE(QFileInfo::exists(tools() + QStringLiteral("/composer.phar")));

    const QString env = u'\n' + readText(dest() + QStringLiteral("/.env"));
    EXPECT_TRUE(env.contains("\nAPP_NAME=\"My \\\"Shop\\\" \\$HOME \\\\o/\"\n")) << env.toStdString();
    EXPECT_TRUE(env.contains("\nAPP_URL=http://localhost:8082\n"));
    EXPECT_TRUE(env.contains("\nDB_CONNECTION=mysql\n"));
    EXPECT_TRUE(env.contains("\nDB_DATABASE=my_shop\n"));
    EXPECT_TRUE(env.contains("\nDB_PASSWORD=$1\\x\n")) << env.toStdString();
    // "# DB_HOST" is not "#DB_HOST": the line stays and the setting is appended.
    EXPECT_TRUE(env.contains("\n# DB_HOST=127.0.0.1\n"));
    EXPECT_TRUE(env.contains("\nDB_HOST=127.0.0.1\n"));
    EXPECT_TRUE(env.contains("\nDB_PORT=3307\n"));
    EXPECT_TRUE(env.contains(QRegularExpression(QStringLiteral("\nAPP_KEY=base64:[A-Za-z0-9+/=]{44}\n"))));

    if (const std::optional<QJsonObject> parsed = parseDotenv(dest() + QStringLiteral("/.env"))) {
        EXPECT_EQ((*parsed)["APP_NAME"].toString(), QStringLiteral("My \"Shop\" $HOME \\o/"));
        EXPECT_EQ((*parsed)["DB_PASSWORD"].toString(), QStringLiteral("$1\\x"));
        EXPECT_EQ((*parsed)["DB_HOST"].toString(), QStringLiteral("127.0.0.1"));
    }

    const auto calls = artisanCalls(dest());
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls[0]["argv"].toArray().toVariantList(),
              (QVariantList{"key:generate", "--force", "--no-interaction"}));
    EXPECT_EQ(calls[0]["cwd"].toString(), dest());
    EXPECT_TRUE(calls[0]["path"].toString().startsWith(QFileInfo(php->binary()).path()
                                                        + QStringLiteral(":/opt/homebrew/bin:/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin")));
    EXPECT_EQ(calls[0]["composer_home"].toString(), tools() + QStringLiteral("/Composer"));
}

TEST_F(LaravelScaffoldingTest, PresentComposerIsNotDownloadedAgain)
{
    ASSERT_FALSE(scaffold(dest(QStringLiteral("first"))));
    drain();
    progress.clear();
    ASSERT_FALSE(scaffold(dest(QStringLiteral("second"))));
    drain();
    EXPECT_EQ(server.requestCount("/download/latest-stable/composer.phar"), 1);
    EXPECT_EQ(progress.value(0), QStringLiteral("Preparing Composer..."));
}

TEST_F(LaravelScaffoldingTest, FailedComposerDownloadLeavesNoComposer)
{
    LoopbackHttpServer::Reply cut{200, {}, WebsiteFixtures::composerShim() + QByteArray(50000, '\n')};
    cut.cutAfter = 40;
    for (const auto& reply : {cut, LoopbackHttpServer::Reply::withStatus(404)}) {
        server.setReply("/download/latest-stable/composer.phar", reply);
        const auto result = scaffold(dest());
        ASSERT_TRUE(result);
        EXPECT_TRUE(result->text.startsWith(QStringLiteral("Could not download Composer: "))) << result->text.toStdString();
        EXPECT_FALSE(QFileInfo::exists(tools() + QStringLiteral("/composer.phar")));
        EXPECT_EQ(QDir(tools()).entryList({QStringLiteral("composer*")}, QDir::Files | QDir::Hidden), QStringList());
        EXPECT_FALSE(QFileInfo::exists(dest()));
    }
    // A later creation downloads it again and succeeds.
    server.setReply("/download/latest-stable/composer.phar", {200, {}, WebsiteFixtures::composerShim()});
    EXPECT_FALSE(scaffold(dest()));
}

TEST_F(LaravelScaffoldingTest, DownloadThatIsNotComposerIsRemovedAndTheNextCreationDownloadsAgain)
{
    // A captive portal answers every request with its own page and status 200.
    const QList<QByteArray> impostors = {
        "<html><body><h1>Welcome to Hotel Wi-Fi</h1><p>Please sign in.</p></body></html>",
        "<?php echo 'Composer? no.'; exit(0);",
        "<?php echo \"Composer version 2.7.1\"; exit(3);",
    };
    for (const QByteArray& page : impostors) {
        server.setReply("/download/latest-stable/composer.phar", {200, {{"Content-Type", "text/html"}}, page});
        const auto result = scaffold(dest());
        ASSERT_TRUE(result) << page.constData();
        EXPECT_EQ(result->text, QStringLiteral("Could not download Composer: the file downloaded from ")
                               + server.url(QStringLiteral("/download/latest-stable/composer.phar"))
                               + QStringLiteral(" is not Composer."));
        EXPECT_EQ(QDir(tools()).entryList({QStringLiteral("composer*")}, QDir::Files | QDir::Hidden), QStringList());
        EXPECT_FALSE(QFileInfo::exists(dest()));
    }
    EXPECT_EQ(server.requestCount("/download/latest-stable/composer.phar"), impostors.size());

    // Once the real Composer is served, the next creation downloads it and succeeds.
    server.setReply("/download/latest-stable/composer.phar", {200, {}, WebsiteFixtures::composerShim()});
    const auto result = scaffold(dest());
    EXPECT_FALSE(result) << result->text.toStdString();
    EXPECT_EQ(server.requestCount("/download/latest-stable/composer.phar"), impostors.size() + 1);
    EXPECT_TRUE(QFileInfo::exists(tools() + QStringLiteral("/composer.phar")));
}

TEST_F(LaravelScaffoldingTest, StalledComposerDownloadFailsWithCurlsReason)
{
    server.setReply("/download/latest-stable/composer.phar", stalled());
    QElapsedTimer timer;
    timer.start();
    const auto result = scaffold(dest());
    ASSERT_TRUE(result);
    EXPECT_LT(timer.elapsed(), kStallSeconds * 1000 + 15000);
    expectOneLineReason(result->text, QStringLiteral("Could not download Composer: "));
    EXPECT_EQ(server.requestCount("/download/latest-stable/composer.phar"), 1);
    EXPECT_EQ(QDir(tools()).entryList({QStringLiteral("composer*")}, QDir::Files | QDir::Hidden), QStringList());
}

TEST_F(LaravelScaffoldingTest, FailingComposerReturnsItsOutput)
{
    writeBytes(tools() + QStringLiteral("/composer.phar"),
               WebsiteFixtures::failingComposer(QStringLiteral("Could not find package laravel/laravel.")));
    const auto result = scaffold(dest());
    ASSERT_TRUE(result);
    EXPECT_EQ(result->text, QStringLiteral("Laravel could not be created: Could not find package laravel/laravel."));
    EXPECT_EQ(server.requestCount("/download/latest-stable/composer.phar"), 0);
}

TEST_F(LaravelScaffoldingTest, MissingEnvAndFailingKeyGeneration)
{
    QFile::remove(fixture + QStringLiteral("/.env.example"));
    auto result = scaffold(dest(QStringLiteral("noenv")));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->text, QStringLiteral("Laravel was downloaded, but its .env file could not be opened."));

    WebsiteFixtures::writeLaravelProject(fixture);
    qputenv("KOVANI_FIXTURE_ARTISAN_EXIT_KEY_GENERATE", "4");
    result = scaffold(dest(QStringLiteral("nokey")));
    qunsetenv("KOVANI_FIXTURE_ARTISAN_EXIT_KEY_GENERATE");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->text, QStringLiteral("Laravel key generation failed: artisan key:generate failed on purpose"));
}

TEST_F(LaravelScaffoldingTest, MigrationRunsWithThePlainPhpEnvironment)
{
    ASSERT_FALSE(scaffold(dest()));
    drain();
    progress.clear();
    EXPECT_FALSE(migrateLaravelDatabase(*model, dest(), php->binary()));
    drain();
    EXPECT_EQ(progress, QStringList{"Preparing Laravel database tables..."});
    const auto calls = artisanCalls(dest());
    ASSERT_EQ(calls.size(), 2);
    EXPECT_EQ(calls[1]["argv"].toArray().toVariantList(), (QVariantList{"migrate", "--force", "--no-interaction"}));
    EXPECT_EQ(calls[1]["cwd"].toString(), dest());
    EXPECT_EQ(calls[1]["path"].toString(), qEnvironmentVariable("PATH"));
    EXPECT_EQ(calls[1]["composer_home"].toVariant(), QVariant(false));

    qputenv("KOVANI_FIXTURE_ARTISAN_EXIT_MIGRATE", "2");
    const auto failed = migrateLaravelDatabase(*model, dest(), php->binary());
    qunsetenv("KOVANI_FIXTURE_ARTISAN_EXIT_MIGRATE");
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->text, QStringLiteral("Laravel database migration failed: artisan migrate failed on purpose"));
    // The client's output is the excerpt the status line keeps the end of.
    EXPECT_EQ(failed->excerptLength, QStringLiteral("artisan migrate failed on purpose").size());
}
