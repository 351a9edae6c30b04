// The lower layers of src/ include nothing above them: platform only itself, oauth only itself and
// platform.
#include "support/TestFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <vector>

namespace {

struct ForbiddenInclude {
    QString file; // relative to the source root
    int line = 0;
    QString target; // as written between the quotes or brackets
    QString folder; // the subsystem folder it reaches
    bool operator==(const ForbiddenInclude&) const = default;
};

void PrintTo(const ForbiddenInclude& include, std::ostream* os)
{
    *os << include.file.toStdString() << ':' << include.line << " includes \"" << include.target.toStdString()
        << "\" from " << include.folder.toStdString() << '/';
}

QString describe(const std::vector<ForbiddenInclude>& includes)
{
    QStringList lines;
    for (const ForbiddenInclude& include : includes)
        lines << QStringLiteral("%1:%2 includes \"%3\" from %4/")
                     .arg(include.file)
                     .arg(include.line)
                     .arg(include.target, include.folder);
    return lines.join(QLatin1Char('\n'));
}

// The top folder below `root` that `path` lies in; "<outside the source tree>" when it lies
// outside, empty when it is `root` itself.
QString topFolder(const QDir& root, const QString& path)
{
    const QString relative = root.relativeFilePath(QDir::cleanPath(path));
    if (relative == QLatin1String("..") || relative.startsWith(QLatin1String("../")))
        return QStringLiteral("<outside the source tree>");
    const qsizetype slash = relative.indexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : relative.left(slash);
}

// Which subsystem folder an include reaches, or empty for one outside the tree's folders (Qt, the
// standard library, other libraries). A quoted name is looked up next to the including file
// first, as the compiler does; then, like a bracketed one, below the source root.
QString reachedFolder(const QDir& root, const QString& includingFile, bool quoted, const QString& target)
{
    if (quoted) {
        const QString beside = QFileInfo(includingFile).absolutePath() + QLatin1Char('/') + target;
        if (QFileInfo::exists(beside))
            return topFolder(root, beside);
    }
    const QString below = QDir::cleanPath(root.absoluteFilePath(target));
    const QString folder = topFolder(root, below);
    if (folder.isEmpty() || folder.startsWith(QLatin1Char('<')))
        return {};
    return QFileInfo(root.absoluteFilePath(folder)).isDir() ? folder : QString();
}

struct Scan {
    QStringList files; // relative to the source root
    std::vector<ForbiddenInclude> forbidden;
};

// Every include in the sources below root/layer that reaches a folder outside `allowed`.
Scan scanLayer(const QString& sourceRoot, const QString& layer, const QStringList& allowed)
{
    static const QRegularExpression includeLine(
        QStringLiteral(R"re(^\s*#\s*include\s*(?:"([^"]+)"|<([^>]+)>))re"));
    const QDir root(sourceRoot);
    Scan scan;
    QDirIterator it(root.absoluteFilePath(layer), {QStringLiteral("*.h"), QStringLiteral("*.cpp")}, QDir::Files,
                    QDirIterator::Subdirectories);
    QStringList paths;
    while (it.hasNext())
        paths << it.next();
    paths.sort();
    for (const QString& path : paths) {
        const QString relative = root.relativeFilePath(path);
        scan.files << relative;
        const QStringList lines = TestFiles::readText(path).split(QLatin1Char('\n'));
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QRegularExpressionMatch match = includeLine.match(lines[i]);
            if (!match.hasMatch())
                continue;
            const bool quoted = match.capturedLength(1) > 0;
            const QString target = quoted ? match.captured(1) : match.captured(2);
            const QString folder = reachedFolder(root, path, quoted, target);
            if (!folder.isEmpty() && !allowed.contains(folder))
                scan.forbidden.push_back({relative, int(i + 1), target, folder});
        }
    }
    return scan;
}

QString sourceRoot()
{
    return QDir::cleanPath(QStringLiteral(KOVANI_TEST_SOURCE_DIR "/../src"));
}

} // namespace

TEST(LayerIncludes, PlatformIncludesOnlyItself)
{
    const Scan scan = scanLayer(sourceRoot(), QStringLiteral("platform"), {QStringLiteral("platform")});
    ASSERT_TRUE(scan.files.contains(QStringLiteral("platform/Process.h"))) << scan.files.join(u' ').toStdString();
    EXPECT_TRUE(scan.forbidden.empty()) << describe(scan.forbidden).toStdString();
}

TEST(LayerIncludes, OAuthIncludesOnlyItselfAndPlatform)
{
    const Scan scan = scanLayer(sourceRoot(), QStringLiteral("oauth"),
                                {QStringLiteral("oauth"), QStringLiteral("platform")});
    ASSERT_TRUE(scan.files.contains(QStringLiteral("oauth/OAuthState.h"))) << scan.files.join(u' ').toStdString();
    EXPECT_TRUE(scan.forbidden.empty()) << describe(scan.forbidden).toStdString();
}

// The scan itself finds every way of writing an include that reaches a higher folder, and names
// the file and line.
TEST(LayerIncludes, ScanNamesEachForbiddenIncludeByFileAndLine)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString src = dir.path() + QStringLiteral("/src");
    for (const char* folder : {"app", "services", "workspace", "account", "oauth", "signin", "platform"})
        ASSERT_TRUE(QDir().mkpath(src + QLatin1Char('/') + QLatin1String(folder)));
    TestFiles::writeFile(src + QStringLiteral("/signin/Record.h"), "#pragma once\n");
    TestFiles::writeFile(src + QStringLiteral("/platform/Beside.h"), "#pragma once\n");
    TestFiles::writeFile(src + QStringLiteral("/oauth/Beside.h"), "#pragma once\n");
    TestFiles::writeFile(src + QStringLiteral("/platform/Layer.cpp"),
                         "#include \"platform/Beside.h\"\n"    // 1: allowed
                         "#include \"Beside.h\"\n"             // 2: beside, allowed
                         "#include <QString>\n"                // 3: a library
                         "#include <nlohmann/json.hpp>\n"      // 4: a library
                         "#include \"signin/Record.h\"\n"      // 5
                         "  #  include <app/AppModel.h>\n"     // 6
                         "#include \"../signin/Record.h\"\n"   // 7
                         "// #include \"account/APIClient.h\"\n" // 8: a comment
                         "#include \"services/Missing.h\"\n"   // 9: reaches the folder even when absent
                         "#include \"../../tests/Fixture.h\"\n" // 10: a file outside the tree
                         "#include \"workspace/CodeIDEModel.h\" // the editor\n" // 11
                         "#include \"oauth/OAuthState.h\"\n"); // 12
    TestFiles::writeFile(src + QStringLiteral("/outside.h"), "#pragma once\n");
    TestFiles::writeFile(dir.path() + QStringLiteral("/tests/Fixture.h"), "#pragma once\n");
    TestFiles::writeFile(src + QStringLiteral("/oauth/Layer.h"),
                         "#pragma once\n"
                         "#include \"platform/Beside.h\"\n" // allowed
                         "#include \"Beside.h\"\n"          // beside, allowed
                         "#include \"oauth/Beside.h\"\n"    // allowed
                         "#include \"signin/Record.h\"\n"   // 5
                         "#include \"account/APIError.h\"\n" // 6
                         "#include \"../outside.h\"\n");    // 7: a file at the root, no folder

    const Scan platform = scanLayer(src, QStringLiteral("platform"), {QStringLiteral("platform")});
    const std::vector<ForbiddenInclude> platformExpected{
        {QStringLiteral("platform/Layer.cpp"), 5, QStringLiteral("signin/Record.h"), QStringLiteral("signin")},
        {QStringLiteral("platform/Layer.cpp"), 6, QStringLiteral("app/AppModel.h"), QStringLiteral("app")},
        {QStringLiteral("platform/Layer.cpp"), 7, QStringLiteral("../signin/Record.h"), QStringLiteral("signin")},
        {QStringLiteral("platform/Layer.cpp"), 9, QStringLiteral("services/Missing.h"), QStringLiteral("services")},
        {QStringLiteral("platform/Layer.cpp"), 10, QStringLiteral("../../tests/Fixture.h"),
         QStringLiteral("<outside the source tree>")},
        {QStringLiteral("platform/Layer.cpp"), 11, QStringLiteral("workspace/CodeIDEModel.h"),
         QStringLiteral("workspace")},
        {QStringLiteral("platform/Layer.cpp"), 12, QStringLiteral("oauth/OAuthState.h"), QStringLiteral("oauth")},
    };
    EXPECT_EQ(platform.forbidden, platformExpected) << describe(platform.forbidden).toStdString();
    EXPECT_EQ(platform.files, QStringList({QStringLiteral("platform/Beside.h"), QStringLiteral("platform/Layer.cpp")}));

    const Scan oauth = scanLayer(src, QStringLiteral("oauth"), {QStringLiteral("oauth"), QStringLiteral("platform")});
    const std::vector<ForbiddenInclude> oauthExpected{
        {QStringLiteral("oauth/Layer.h"), 5, QStringLiteral("signin/Record.h"), QStringLiteral("signin")},
        {QStringLiteral("oauth/Layer.h"), 6, QStringLiteral("account/APIError.h"), QStringLiteral("account")},
    };
    EXPECT_EQ(oauth.forbidden, oauthExpected) << describe(oauth.forbidden).toStdString();
}
