// Saving config.json in the background: a change returns at once, a burst of changes ends as the
// latest settings on disk, whole and private, and quitting waits for the last write.
#include "app/AppModel.h"
#include "app/ConfigWriter.h"
#include "platform/Dispatch.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <sys/stat.h>
#include <thread>

namespace {

int mode(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return st.st_mode & 07777;
}

Project site(int i)
{
    return Project{QStringLiteral("site-%1").arg(i), QStringLiteral("Site %1").arg(i), QStringLiteral("/srv/site-%1").arg(i),
                   9000 + i, QStringLiteral("site_%1").arg(i), QStringLiteral("root"), QStringLiteral("kelp")};
}

// Holds every thread of the background queue the writer uses, so that no write can run until
// release().
class BusyQueue {
public:
    static constexpr int kThreads = 4;

    BusyQueue()
    {
        for (int i = 0; i < kThreads; ++i) {
            Dispatch::utility([this]() {
                std::unique_lock lock(m_mutex);
                ++m_holding;
                m_changed.notify_all();
                m_changed.wait(lock, [this] { return m_released; });
                --m_holding;
                m_changed.notify_all();
            });
        }
        std::unique_lock lock(m_mutex);
        m_held = m_changed.wait_for(lock, std::chrono::seconds(60), [this] { return m_holding == kThreads; });
    }
    ~BusyQueue()
    {
        release();
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_holding == 0; });
    }

    bool held() const { return m_held; }
    void release()
    {
        std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_holding = 0;
    bool m_released = false;
    bool m_held = false;
};

struct World {
    QTemporaryDir dir;
    TestEnvironment::TestPlatform t = TestEnvironment::makePlatform(dir.path());
    QString config = t.platform.storageRoot + QStringLiteral("/config.json");

    std::unique_ptr<AppModel> start()
    {
        auto model = std::make_unique<AppModel>(t.platform);
        EXPECT_TRUE(TestEnvironment::configWritten(*model));
        return model;
    }
};

QStringList entriesBesideConfig(const World& w)
{
    return QDir(w.t.platform.storageRoot).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

} // namespace

TEST(ConfigWriter, ABurstOfChangesEndsAsTheLatestSettingsWholeAndPrivate)
{
    World w;
    auto model = w.start();
    for (int i = 0; i < 200; ++i) {
        model->modifyConfig([i](AppConfig& c) { c.projects.append(site(i)); });
        model->saveConfig();
        if (i % 3 == 0) {
            model->modifyConfig([](AppConfig& c) { c.projects.removeFirst(); });
            model->saveConfig();
        }
    }
    ASSERT_TRUE(TestEnvironment::configWritten(*model));
    EXPECT_EQ(TestFiles::readBytes(w.config), ConfigCoding::encode(model->config()));
    EXPECT_EQ(mode(w.config), 0600);
    EXPECT_EQ(entriesBesideConfig(w), QStringList{"config.json"}) << "no temporary file is left";
    // The next start reads exactly that.
    const AppConfig saved = model->config();
    model.reset();
    EXPECT_EQ(w.start()->config(), saved);
}

TEST(ConfigWriter, AChangeReturnsWhileNoWriteCanRunAndTheWriteFollows)
{
    World w;
    auto model = w.start();
    const QByteArray before = TestFiles::readBytes(w.config);
    {
        BusyQueue busy;
        ASSERT_TRUE(busy.held());
        // Remove a project, change a path: both return with the file untouched.
        model->modifyConfig([](AppConfig& c) { c.projects.append(site(1)); });
        model->saveConfig();
        model->updateProjectPath(model->config().projects.at(1), w.dir.path());
        EXPECT_EQ(model->statusMessage(), QStringLiteral("Project path updated."));
        EXPECT_EQ(TestFiles::readBytes(w.config), before);
        EXPECT_FALSE(model->waitForConfigWrites(50)) << "the write waits for the queue";
        busy.release();
    }
    ASSERT_TRUE(TestEnvironment::configWritten(*model));
    EXPECT_EQ(TestFiles::readBytes(w.config), ConfigCoding::encode(model->config()));
    EXPECT_EQ(model->config().projects.at(1).root, QDir::cleanPath(w.dir.path()));
}

TEST(ConfigWriter, QuittingAndTheModelsEndWaitForTheLastWrite)
{
    const struct {
        const char* name;
        bool shutdown;
    } ways[] = {{"shutdown", true}, {"the model's end", false}};
    for (const auto& way : ways) {
        World w;
        auto model = w.start();
        AppConfig last;
        {
            BusyQueue busy;
            ASSERT_TRUE(busy.held()) << way.name;
            model->modifyConfig([](AppConfig& c) { c.mysqlPort = 3399; });
            model->saveConfig();
            last = model->config();
            // The queue is freed while quitting has begun (or is about to begin).
            std::thread releaser([&busy] { busy.release(); });
            if (way.shutdown)
                model->shutdown();
            else
                model.reset();
            // Quitting returned: the write is on disk.
            EXPECT_EQ(TestFiles::readBytes(w.config), ConfigCoding::encode(last)) << way.name;
            releaser.join();
        }
        EXPECT_EQ(mode(w.config), 0600) << way.name;
    }
}

TEST(ConfigWriter, AFailedWriteIsReportedAfterTheOperationsOwnOutcome)
{
    World w;
    auto model = w.start();
    ASSERT_TRUE(QFile::remove(w.config));
    ASSERT_TRUE(QDir().mkpath(w.config)); // a folder where the file should be
    model->updateProjectPath(model->config().projects.at(0), w.dir.path());
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Project path updated."));
    ASSERT_TRUE(TestEnvironment::configWritten(*model));
    EXPECT_TRUE(model->statusMessage().startsWith(QStringLiteral("Could not save settings: ")))
        << model->statusMessage().toStdString();
    EXPECT_EQ(model->config().projects.at(0).root, QDir::cleanPath(w.dir.path()));
}
