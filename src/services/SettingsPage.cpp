#include "services/SettingsPage.h"

#include "app/AccessiblePicker.h"
#include "app/AppModel.h"
#include "app/ElidedLabel.h"
#include "app/PageRegistry.h"
#include "app/PasswordField.h"
#include "app/StatusPill.h"
#include "app/Theme.h"
#include "platform/Text.h"

#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QString kDefaultPassword = QStringLiteral("kelp");

QLabel* plainLabel(const QString& text = QString())
{
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLabel* secondaryLabel(const QString& text = QString())
{
    QLabel* label = plainLabel(text);
    Theme::setForeground(label, Theme::secondary());
    return label;
}

// A titled box whose content is a leading-aligned column, 12 points apart, inset by 8.
QVBoxLayout* groupBox(QVBoxLayout* page, const QString& title)
{
    auto* box = new QGroupBox(title);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(8, 8, 8, 8);
    column->setSpacing(12);
    column->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    page->addWidget(box);
    return column;
}

QHBoxLayout* row(QVBoxLayout* column)
{
    auto* layout = new QHBoxLayout;
    layout->setContentsMargins(0, 0, 0, 0);
    column->addLayout(layout);
    return layout;
}

const bool registered = PageRegistry::setSettingsPage([](AppModel& model) -> QWidget* {
    return new SettingsPage(model);
});

} // namespace

SettingsPage::SettingsPage(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_newMySQLPassword(kDefaultPassword)
{
    (void)registered;
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(18);
    page->setAlignment(Qt::AlignTop);

    // ---- PHP ----
    QVBoxLayout* php = groupBox(page, QStringLiteral("PHP"));
    QHBoxLayout* pickerRow = row(php);
    QLabel* pickerLabel = plainLabel(QStringLiteral("PHP version"));
    pickerRow->addWidget(pickerLabel, 0, Qt::AlignVCenter);
    m_picker = new QComboBox;
    pickerLabel->setBuddy(m_picker);
    // It reads as what it chooses; its value is the runtime shown.
    m_picker->setAccessibleName(pickerLabel->text());
    AccessiblePicker::install(m_picker);
    m_picker->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    pickerRow->addWidget(m_picker, 0, Qt::AlignVCenter);
    m_refreshPHP = new QPushButton(QStringLiteral("Refresh PHP"));
    pickerRow->addWidget(m_refreshPHP, 0, Qt::AlignVCenter);
    pickerRow->addStretch(1);
    m_selectedPHP = plainLabel();
    php->addWidget(m_selectedPHP);
    m_builtInPHP = plainLabel(QStringLiteral("Built-in PHP 8.5 runtime. No Homebrew or system PHP installation is required."));
    Theme::setForeground(m_builtInPHP, Theme::green());
    php->addWidget(m_builtInPHP);

    // The entry shown is the choice, however it was made (pointer, keyboard, accessibility);
    // refilling the list never selects (its signals are blocked then).
    connect(m_picker, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index < 0)
            return;
        const QString binary = m_picker->itemData(index).toString();
        // Like a bound picker: choosing the entry already shown changes nothing.
        if (binary != m_model.config().selectedPhp)
            m_model.selectPHP(binary);
    });
    connect(m_refreshPHP, &QPushButton::clicked, this, [this]() { m_model.refreshPHPVersions(); });

    // ---- Database ----
    QVBoxLayout* database = groupBox(page, QStringLiteral("Database"));
    QHBoxLayout* statusRow = row(database);
    m_pill = new StatusPill(QStringLiteral("mySQL"), Theme::green());
    statusRow->addWidget(m_pill, 0, Qt::AlignVCenter);
    m_databaseStatus = new ElidedLabel(QString(), 3);
    Theme::setForeground(m_databaseStatus, Theme::secondary());
    m_databaseStatus->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    statusRow->addWidget(m_databaseStatus, 1, Qt::AlignVCenter);
    QHBoxLayout* checkRow = row(database);
    checkRow->addWidget(secondaryLabel(QStringLiteral("Database starts automatically when the app opens.")), 0,
                        Qt::AlignVCenter);
    m_checkDatabase = new QPushButton(QStringLiteral("Check Database"));
    checkRow->addWidget(m_checkDatabase, 0, Qt::AlignVCenter);
    checkRow->addStretch(1);
    connect(m_checkDatabase, &QPushButton::clicked, this, [this]() { m_model.checkMySQL(); });

    // ---- phpAdmin ----
    QVBoxLayout* admin = groupBox(page, QStringLiteral("phpAdmin"));
    m_phpMyAdminRoot = new ElidedLabel(QString(), 1);
    Theme::setForeground(m_phpMyAdminRoot, Theme::secondary());
    m_phpMyAdminRoot->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    admin->addWidget(m_phpMyAdminRoot);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(16);
    grid->setVerticalSpacing(8);
    grid->setAlignment(Qt::AlignLeft);
    const QStringList labels = {QStringLiteral("URL"), QStringLiteral("Server"), QStringLiteral("Username"),
                                QStringLiteral("Password")};
    QLabel** values[] = {&m_url, &m_server, &m_username, &m_password};
    for (int i = 0; i < labels.size(); ++i) {
        grid->addWidget(secondaryLabel(labels[i]), i, 0, Qt::AlignLeft | Qt::AlignVCenter);
        QLabel* value = plainLabel();
        value->setFont(Theme::monospacedFont(Theme::TextStyle::callout));
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        grid->addWidget(value, i, 1, Qt::AlignLeft | Qt::AlignVCenter);
        *values[i] = value;
    }
    admin->addLayout(grid);

    QLabel* hint = secondaryLabel(QStringLiteral("Default phpAdmin login is root / kelp. You can change the mySQL root "
                                                 "password here; Kovani will update phpAdmin automatically."));
    hint->setWordWrap(true);
    admin->addWidget(hint);

    QHBoxLayout* passwordRow = row(admin);
    m_currentPassword = new PasswordField(QStringLiteral("Current password"));
    m_currentPassword->setMaximumWidth(180);
    m_newPassword = new PasswordField(QStringLiteral("New password"));
    m_newPassword->setMaximumWidth(180);
    m_newPassword->setText(m_newMySQLPassword);
    m_changePassword = new QPushButton(QStringLiteral("Change mySQL Password"));
    passwordRow->addWidget(m_currentPassword, 1, Qt::AlignVCenter);
    passwordRow->addWidget(m_newPassword, 1, Qt::AlignVCenter);
    passwordRow->addWidget(m_changePassword, 0, Qt::AlignVCenter);
    passwordRow->addStretch(1);
    connect(m_currentPassword, &PasswordField::textChanged, this,
            [this](const QString& text) { m_currentMySQLPassword = text; });
    connect(m_newPassword, &PasswordField::textChanged, this, [this](const QString& text) {
        m_newMySQLPassword = text;
        refreshChangeButton();
    });
    connect(m_changePassword, &QPushButton::clicked, this, &SettingsPage::changePassword);

    QHBoxLayout* openRow = row(admin);
    m_openPhpMyAdmin = new QPushButton(QStringLiteral("Open phpAdmin"));
    Theme::makeProminent(m_openPhpMyAdmin);
    openRow->addWidget(m_openPhpMyAdmin, 0, Qt::AlignVCenter);
    m_installed = secondaryLabel();
    openRow->addWidget(m_installed, 0, Qt::AlignVCenter);
    openRow->addStretch(1);
    connect(m_openPhpMyAdmin, &QPushButton::clicked, this, [this]() { m_model.openPhpMyAdmin(); });

    page->addStretch(1);

    connect(&m_model, &AppModel::phpVersionsChanged, this, &SettingsPage::refreshPHP);
    connect(&m_model, &AppModel::configChanged, this, [this]() {
        refreshPHP();
        refreshPhpMyAdmin();
    });
    connect(&m_model, &AppModel::databaseStatusChanged, this, &SettingsPage::refreshDatabase);
    // The installed line follows the folder on disk; an install or start always ends with a
    // status message or a change of the running servers.
    connect(&m_model, &AppModel::statusMessageChanged, this, &SettingsPage::refreshPhpMyAdmin);
    connect(&m_model, &AppModel::runningProjectsChanged, this, &SettingsPage::refreshPhpMyAdmin);

    refreshPHP();
    refreshDatabase();
    refreshPhpMyAdmin();
    refreshChangeButton();
}

void SettingsPage::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_currentMySQLPassword.isEmpty()) {
        const QString& stored = m_model.config().mysqlPassword;
        m_currentMySQLPassword = stored.isEmpty() ? kDefaultPassword : stored;
        m_currentPassword->setText(m_currentMySQLPassword);
    }
}

void SettingsPage::refreshPHP()
{
    const QList<PHPVersion>& versions = m_model.phpVersions();
    const QString& chosen = m_model.config().selectedPhp;
    {
        const QSignalBlocker blocker(m_picker);
        m_picker->clear();
        int current = -1;
        for (const PHPVersion& runtime : versions) {
            QString text = runtime.version + QStringLiteral(" - ") + runtime.binary;
            if (!runtime.supported)
                text += QStringLiteral(" (requires 8.5+)");
            m_picker->addItem(text, runtime.binary);
            if (current < 0 && runtime.binary == chosen)
                current = m_picker->count() - 1;
        }
        m_picker->setCurrentIndex(current);
    }

    const std::optional<PHPVersion> selected = m_model.selectedPHP();
    if (selected) {
        m_selectedPHP->setText(QStringLiteral("Selected PHP ") + selected->version);
        Theme::setForeground(m_selectedPHP, Theme::secondary());
    } else {
        m_selectedPHP->setText(QStringLiteral("No PHP 8.5+ runtime found."));
        Theme::setForeground(m_selectedPHP, Theme::red());
    }
    m_builtInPHP->setVisible(selected && selected->binary.contains(QStringLiteral("/Contents/Resources/php85/")));
}

void SettingsPage::refreshDatabase()
{
    m_databaseStatus->setText(Text::displayable(m_model.databaseStatus()));
}

void SettingsPage::refreshPhpMyAdmin()
{
    const AppConfig& config = m_model.config();
    m_phpMyAdminRoot->setText(config.phpMyAdminRoot);
    m_url->setText(QStringLiteral("http://localhost:") + QString::number(config.phpMyAdminPort));
    m_server->setText(config.mysqlHost + u':' + QString::number(config.mysqlPort));
    m_username->setText(config.mysqlUser);
    m_password->setText(config.mysqlPassword.isEmpty() ? kDefaultPassword : config.mysqlPassword);
    const QFileInfo root(config.phpMyAdminRoot);
    const bool installed = !config.phpMyAdminRoot.isEmpty() && (root.exists() || root.isSymLink());
    m_installed->setText(installed ? QStringLiteral("Installed and auto-started.")
                                   : QStringLiteral("Will auto-install on first open."));
}

void SettingsPage::refreshChangeButton()
{
    m_changePassword->setEnabled(!Text::trimmed(m_newMySQLPassword).isEmpty());
}

void SettingsPage::changePassword()
{
    m_model.changeMySQLPassword(m_currentMySQLPassword, m_newMySQLPassword);
    m_currentMySQLPassword = m_newMySQLPassword;
    m_currentPassword->setText(m_currentMySQLPassword);
}
