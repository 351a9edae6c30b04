// Password rules, local hash, avatar initials, the e-mail check and the device identifier.
#include "app/AppModel.h"
#include "platform/UserDefaults.h"
#include "support/TestEnvironment.h"

#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(Credentials, PasswordRulesInTheirOrder)
{
    struct Case {
        QString password;
        QString error; // empty: passes
    };
    const QString tooShort = "Password must be at least 12 characters.";
    const QString upper = "Password must include an uppercase letter.";
    const QString lower = "Password must include a lowercase letter.";
    const QString number = "Password must include a number.";
    const QString special = "Password must include a special character.";
    const QString spaces = "Password must not contain spaces.";
    const QList<Case> cases{
        {"", tooShort},
        {"Abcdefgh1!x", tooShort},            // 11
        {"Abcdefgh1!xy", ""},                  // exactly 12
        {"abcdefgh1!xy", upper},
        {"ABCDEFGH1!XY", lower},
        {"Abcdefghi!xy", number},
        {"Abcdefgh1xyz", special},
        {"Abcdefgh1\u20acxy", special},        // a currency sign outside ASCII is no special
        {"Abcdefgh1\u00e9xy", special},
        {"Abcdefgh1!xy ", spaces},
        {"Abcdefgh1!xy\t", spaces},
        {"Abcdefgh1!xy\u00a0", spaces},        // Zs
        {"Abcdefgh1!xy\u2028", spaces},        // Zl
        {"Abcdefgh1!xy\u0085", spaces},
        {"Abcdefgh1!xy\u000b", spaces},
        {"Ab1!\u00c5\u00c5\u00c5\u00c5\u00c5\u00c5\u00c5\u00c5", ""},              // precomposed: 12
        {"Ab1!A\u030aA\u030aA\u030aA\u030aA\u030aA\u030aA\u030a", tooShort},       // 11 clusters, 18 code units
        {"Ab1!\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600", ""}, // emoji: 12
        {"\u01c5bcdefgh1!xy", ""},             // Lt counts as upper case
        {"Abcdefgh\u0663!xy", ""},             // Arabic-Indic digit is Nd
        {"Abcdefgh\u00bd!xy", number},         // a vulgar fraction is No, not Nd
        {"ab cd EF 12 !!", spaces},
        {"ab cd ef 12 !!", upper},             // earlier rules first
    };
    for (const Case& c : cases) {
        const std::optional<QString> e = AppModel::passwordValidationError(c.password);
        EXPECT_EQ(e.value_or(QString()), c.error) << c.password.toStdString();
    }
    // Exactly the 32 ASCII specials count.
    const QString specials = QStringLiteral("!@#$%^&*()_+-=[]{}|;:'\",.<>?/`~\\");
    ASSERT_EQ(specials.size(), 32);
    for (int c = 0x21; c < 0x7f; ++c) {
        const QString pw = QStringLiteral("Abcdefgh1xy") + QChar(c);
        const bool isSpecial = specials.contains(QChar(c));
        if (QChar(c).isLetterOrNumber())
            continue;
        EXPECT_EQ(!AppModel::passwordValidationError(pw).has_value(), isSpecial) << c;
    }
}

TEST(Credentials, HashIsLowercaseSha256OfUtf8)
{
    EXPECT_EQ(AppModel::hash(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(AppModel::hash("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_TRUE(QRegularExpression("^[0-9a-f]{64}$").match(AppModel::hash(QString::fromUtf8("p\u00e4ss \U0001F600"))).hasMatch());
}

TEST(Credentials, Initials)
{
    const QList<QPair<QString, QString>> cases{
        {"Ada Lovelace", "AL"},
        {"ada king lovelace", "AK"},
        {"  grace  ", "G"},
        {"", "U"},
        {"    ", "U"},
        {"\u00e9mile zola", "\u00c9Z"},
        {"e\u0301mile", "E\u0301"},            // a whole cluster
        {"\u00dfrich \u00dfen", "SSSS"},         // full case mapping
        {"Tab\tSeparated", "T"},                 // tabs do not split
        {"\U0001F600 smile", "\U0001F600S"},
        {"\u0133sbrand", "\u0132"},
    };
    for (const auto& [name, expected] : cases)
        EXPECT_EQ(AppModel::initials(name), expected) << name.toStdString();
}

TEST(Credentials, EmailPattern)
{
    // Case-insensitive as ICU matches: the Kelvin sign folds to "k".
    const QStringList good{"ada@example.test", "A.B%c+d-e_f@Sub.Example.COM", "x@y.io", "a@b-c.d.ef",
                           "ada@example.\u212a\u212a"};
    const QStringList bad{"", "ada", "ada@", "@example.com", "ada@example", "ada@example.c", "ada@exa mple.com",
                          "ada@example.c0m", "a\u00e9@example.com", "ada@example.com\nx", "ada@@example.com", " ada@example.com"};
    for (const QString& e : good)
        EXPECT_TRUE(AppModel::isValidEmail(e)) << e.toStdString();
    for (const QString& e : bad)
        EXPECT_FALSE(AppModel::isValidEmail(e)) << e.toStdString();
}

TEST(Credentials, DeviceIdIsMadeOnceAndKept)
{
    QTemporaryDir dir;
    auto t = TestEnvironment::makePlatform(dir.path());
    QString first;
    {
        AppModel model(t.platform);
        first = model.deviceId();
        EXPECT_TRUE(QRegularExpression("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$").match(first).hasMatch())
            << first.toStdString();
        EXPECT_EQ(model.deviceId(), first);
    }
    AppModel again(t.platform); // the next launch
    EXPECT_EQ(again.deviceId(), first);

    // A stored value is used as it is, even an empty one.
    UserDefaults(t.platform.userDefaultsFile).set("KovaniDeviceId", "");
    AppModel third(t.platform);
    EXPECT_EQ(third.deviceId(), "");
}
