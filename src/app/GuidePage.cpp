#include "app/GuidePage.h"

#include "app/GuideRow.h"
#include "app/SetupCommand.h"
#include "app/StatusPill.h"
#include "app/Theme.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

QVBoxLayout* addBox(QVBoxLayout* page, const QString& title, int spacing)
{
    auto* box = new QGroupBox(title);
    auto* content = new QVBoxLayout(box);
    content->setContentsMargins(14, 8, 14, 12);
    content->setSpacing(spacing);
    page->addWidget(box);
    return content;
}

QLabel* plainText(const QString& text)
{
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

QLabel* headline(const QString& text)
{
    QLabel* label = plainText(text);
    Theme::setTextStyle(label, Theme::TextStyle::headline);
    return label;
}

QLabel* note(const QString& text)
{
    QLabel* label = plainText(text);
    Theme::setForeground(label, Theme::secondary());
    return label;
}

void addRows(QVBoxLayout* box, const QStringList& texts)
{
    for (int i = 0; i < texts.size(); ++i)
        box->addWidget(new GuideRow(QString::number(i + 1), texts[i]));
}

QWidget* pillRow(const QString& pill, const QColor& color, const QString& text)
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    auto* statusPill = new StatusPill(pill, color);
    layout->addWidget(statusPill, 0, Qt::AlignTop);
    QLabel* label = plainText(text);
    // The first line sits level with the pill's centre.
    label->setContentsMargins(0, std::max(0, (statusPill->sizeHint().height() - label->fontMetrics().height()) / 2), 0, 0);
    label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    layout->addWidget(label, 1, Qt::AlignTop);
    return row;
}

} // namespace

QString GuidePage::homebrewInstallCommand()
{
    return QStringLiteral("/bin/bash -c \"$(curl -fsSL https://raw.githubusercontent.com/Homebrew/install/HEAD/install.sh)\"");
}

GuidePage::GuidePage(AppModel&, QWidget* parent)
    : QWidget(parent)
{
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(18);

    QVBoxLayout* use = addBox(page, QStringLiteral("How to use Kovani"), 10);
    addRows(use, {
        QStringLiteral("Open Projects and choose Create Website for a new Laravel or WordPress site, or Import Website "
                       "for an existing folder."),
        QStringLiteral("Each website runs on its own port. Use localhost:<port> or 127.0.0.1:<port>."),
        QStringLiteral("Use Code IDE to browse the project tree, edit UTF-8 source files with auto-save, and create "
                       "files or folders."),
        QStringLiteral("Create Website configures shared mySQL automatically. phpAdmin manages every website database."),
    });

    QVBoxLayout* setup = addBox(page, QStringLiteral("Required Setup"), 12);
    setup->addWidget(pillRow(QStringLiteral("Included"), Theme::green(),
                             QStringLiteral("Kovani includes PHP 8.5 with mysqli, PDO MySQL, curl, OpenSSL, mbstring, "
                                            "intl, GD and ZIP. You can start PHP websites immediately without "
                                            "installing PHP or Homebrew.")));
    setup->addWidget(pillRow(QStringLiteral("Database"), Theme::blue(),
                             QStringLiteral("MySQL is still installed through Homebrew when it is missing. Internet "
                                            "access and an administrator account may be required on the first "
                                            "setup.")));
    setup->addWidget(headline(QStringLiteral("Recommended first run")));
    addRows(setup, {
        QStringLiteral("Move Kovani to Applications, then open it."),
        QStringLiteral("Wait for PHP and MySQL checks to finish. Built-in PHP 8.5 is selected automatically."),
        QStringLiteral("Open Settings and click Check Database. Open phpAdmin to let the app install it when missing."),
        QStringLiteral("Create a Laravel or WordPress website in Projects, choose its parent folder and an unused port."),
    });

    QVBoxLayout* brew = addBox(page, QStringLiteral("Install Homebrew and Developer Tools"), 10);
    brew->addWidget(note(QStringLiteral("These commands are optional for PHP and Composer because Kovani can provide "
                                        "both during automatic website creation. Homebrew is recommended for MySQL "
                                        "and additional tools.")));
    brew->addWidget(headline(QStringLiteral("1. Install Apple Command Line Tools")));
    brew->addWidget(new SetupCommand(QStringLiteral("xcode-select --install")));
    brew->addWidget(headline(QStringLiteral("2. Install Homebrew")));
    brew->addWidget(new SetupCommand(homebrewInstallCommand()));
    brew->addWidget(headline(QStringLiteral("3. Add Homebrew to PATH on Apple Silicon")));
    brew->addWidget(new SetupCommand(QStringLiteral(
        "echo 'eval \"$(/opt/homebrew/bin/brew shellenv)\"' >> ~/.zprofile && eval \"$(/opt/homebrew/bin/brew shellenv)\"")));
    brew->addWidget(note(QStringLiteral("Intel Macs normally use /usr/local instead of /opt/homebrew.")));

    QVBoxLayout* optional = addBox(page, QStringLiteral("Optional System PHP, MySQL and Composer"), 10);
    optional->addWidget(headline(QStringLiteral("Install system PHP 8.5")));
    optional->addWidget(new SetupCommand(QStringLiteral("brew install php")));
    optional->addWidget(headline(QStringLiteral("Install and start MySQL")));
    optional->addWidget(new SetupCommand(QStringLiteral("brew install mysql && brew services start mysql")));
    optional->addWidget(headline(QStringLiteral("Install Composer")));
    optional->addWidget(new SetupCommand(QStringLiteral("brew install composer")));
    optional->addWidget(headline(QStringLiteral("Verify installation")));
    optional->addWidget(new SetupCommand(QStringLiteral("php -v && mysql --version && composer --version")));
    optional->addWidget(note(QStringLiteral("After installing another PHP version, return to Settings and click Refresh PHP.")));

    QVBoxLayout* trouble = addBox(page, QStringLiteral("Troubleshooting"), 10);
    addRows(trouble, {
        QStringLiteral("If MySQL is unavailable, run brew services restart mysql, then click Check Database."),
        QStringLiteral("If port 3306 is occupied, stop the other MySQL/MAMP service before reopening Kovani."),
        QStringLiteral("If a website cannot start, check that its folder exists and its port is not used by another "
                       "process."),
        QStringLiteral("Use the Logs button on each website to inspect PHP startup and runtime errors."),
    });
}
