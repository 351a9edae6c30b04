#pragma once

// A model pointed at the account service stand-in, with helpers to watch its status line, its
// settings file and the keychain item of the session token.
#include "app/AppModel.h"
#include "app/AppConfig.h"
#include "platform/Dispatch.h"
#include "platform/Keychain.h"
#include "support/AccountServiceStandIn.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace AccountTestKit {

inline const QString kStrongPassword = QStringLiteral("Correct-Horse-9");

struct World {
    QTemporaryDir dir;
    TestEnvironment::TestPlatform t;
    AccountServiceStandIn service;
    std::unique_ptr<AppModel> model;
    QStringList statuses;

    World()
        : t(TestEnvironment::makePlatform(dir.path()))
    {
        t.platform.accountApiBaseURL = service.baseURL();
    }

    AppModel& start()
    {
        model = std::make_unique<AppModel>(t.platform);
        // An installed phpMyAdmin without a PHP runtime: the start after a sign-in ends at once.
        QDir().mkpath(model->config().phpMyAdminRoot);
        QObject::connect(model.get(), &AppModel::statusMessageChanged, model.get(),
                         [this]() { statuses << model->statusMessage(); });
        return *model;
    }

    bool waitForStatus(const QString& text, int timeoutMs = 20000)
    {
        return TestEnvironment::waitUntil([&] { return model->statusMessage() == text; }, timeoutMs);
    }

    // Waits until the work under way has ended: requests answered, keychain jobs done, their
    // results handed back (before asserting that something did not happen).
    static void settle() { EXPECT_TRUE(Dispatch::drainForTesting()); }

    // config.json once the saves so far are on disk.
    std::optional<AppConfig> configFile() const
    {
        EXPECT_TRUE(model->waitForConfigWrites(60000));
        QFile f(model->configURL());
        if (!f.open(QIODevice::ReadOnly))
            return std::nullopt;
        return ConfigCoding::decode(f.readAll());
    }

    void setUser(const UserProfile& user)
    {
        model->modifyConfig([&](AppConfig& c) { c.user = user; });
        model->saveConfig();
    }
};

inline Keychain::Result keychain()
{
    QObject context;
    std::optional<Keychain::Result> result;
    Keychain::read(QStringLiteral("Kovani"), QStringLiteral("access_token"), &context,
                   [&](const Keychain::Result& r) { result = r; });
    TestEnvironment::waitUntil([&] { return result.has_value(); }, 20000);
    return result.value_or(Keychain::Result{});
}

// The token in the keychain item, or nothing when there is none.
inline std::optional<QString> storedToken()
{
    const Keychain::Result r = keychain();
    if (r.status != Keychain::Status::ok)
        return std::nullopt;
    return QString::fromUtf8(r.data);
}

inline void storeToken(const QString& token)
{
    QObject context;
    bool done = false;
    Keychain::write(QStringLiteral("Kovani"), QStringLiteral("access_token"), token.toUtf8(), &context,
                    [&](const Keychain::Result&) { done = true; });
    TestEnvironment::waitUntil([&] { return done; }, 20000);
}

inline UserProfile profile(const QString& name, const QString& email, const QString& provider, const QString& hash,
                           const QString& token)
{
    return UserProfile{name, email, AppModel::initials(name), hash, provider, token};
}

} // namespace AccountTestKit
