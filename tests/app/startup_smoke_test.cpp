#include "app/AppModel.h"
#include "support/TestEnvironment.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(StartupSmoke, FreshStorageIsCreated)
{
    QTemporaryDir dir;
    auto t = TestEnvironment::makePlatform(dir.path());
    AppModel model(t.platform);
    const QString root = t.platform.storageRoot;
    for (const char* sub : {"/Sites/default/index.php", "/Logs", "/Tools", "/Routers", "/config.json"})
        EXPECT_TRUE(QFileInfo::exists(root + QString::fromLatin1(sub))) << sub;
    EXPECT_EQ(model.statusMessage(), QStringLiteral("Ready"));
    EXPECT_EQ(model.config(), AppConfig::defaults(root));
}
