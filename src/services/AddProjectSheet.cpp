#include "services/AddProjectSheet.h"

#include "app/AppModel.h"
#include "app/PageRegistry.h"
#include "app/PasswordField.h"
#include "app/Theme.h"
#include "platform/Text.h"
#include "services/WebsiteCreation.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const bool registered = PageRegistry::setSheet(SheetKind::addProject, [](AppModel& model, QWidget* parent) -> QDialog* {
    return new AddProjectSheet(model, parent);
});

const QString kInitialPort = QStringLiteral("8082");

QLabel* plainText(const QString& text)
{
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLineEdit* textField(const QString& label, const QString& text = QString())
{
    auto* field = new QLineEdit(text);
    // The label shows as the placeholder; it is the field's name as well.
    field->setPlaceholderText(label);
    field->setAccessibleName(label);
    return field;
}


} // namespace

QString AddProjectSheet::suggestedDatabaseName(const QString& name)
{
    return WebsiteCreation::databaseName(QString(), Text::trimmed(name));
}

AddProjectSheet::AddProjectSheet(AppModel& model, QWidget* parent)
    : QDialog(parent)
    , m_model(model)
{
    setWindowTitle(QStringLiteral("Import Website"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(16);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    auto* title = plainText(QStringLiteral("Import Website"));
    title->setFont(Theme::font(Theme::TextStyle::title, QFont::Bold));
    layout->addWidget(title);

    m_name = textField(QStringLiteral("Website name"));
    layout->addWidget(m_name);

    auto* rootRow = new QHBoxLayout;
    m_root = textField(QStringLiteral("/path/to/project/public"));
    m_browse = new QPushButton(QStringLiteral("Browse"));
    rootRow->addWidget(m_root, 1, Qt::AlignVCenter);
    rootRow->addWidget(m_browse, 0, Qt::AlignVCenter);
    layout->addLayout(rootRow);

    m_port = textField(QStringLiteral("Port"), kInitialPort);
    m_port->setFixedWidth(120);
    layout->addWidget(m_port);

    m_reserved = plainText(QString());
    Theme::setForeground(m_reserved, Theme::red());
    layout->addWidget(m_reserved);

    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    layout->addWidget(divider);

    auto* databaseTitle = plainText(QStringLiteral("Database config for this website"));
    databaseTitle->setFont(Theme::font(Theme::TextStyle::headline, QFont::DemiBold));
    layout->addWidget(databaseTitle);
    auto* explanation = plainText(
        QStringLiteral("phpAdmin is shared. Kovani will create this database automatically in the shared mySQL server."));
    explanation->setWordWrap(true);
    Theme::setForeground(explanation, Theme::secondary());
    layout->addWidget(explanation);

    m_databaseName = textField(QStringLiteral("Database name"));
    m_databaseUser = textField(QStringLiteral("Database user"), QStringLiteral("root"));
    m_databasePassword = new PasswordField(QStringLiteral("Database password"));
    m_databasePassword->setText(Project().databasePassword);
    layout->addWidget(m_databaseName);
    layout->addWidget(m_databaseUser);
    layout->addWidget(m_databasePassword);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_cancel = new QPushButton(QStringLiteral("Cancel"));
    m_import = new QPushButton(QStringLiteral("Import"));
    Theme::makeProminent(m_import);
    m_cancel->setAutoDefault(false);
    m_import->setAutoDefault(false);
    // Return presses Import while it is enabled.
    m_import->setDefault(true);
    m_browse->setAutoDefault(false);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_import);
    layout->addLayout(buttons);

    // 560 points wide with the margins.
    const int width = 560;
    for (QWidget* w : {static_cast<QWidget*>(m_name), static_cast<QWidget*>(explanation),
                       static_cast<QWidget*>(m_databaseName), static_cast<QWidget*>(m_databaseUser),
                       static_cast<QWidget*>(m_databasePassword)})
        w->setFixedWidth(width - 48);

    connect(m_name, &QLineEdit::textChanged, this, &AddProjectSheet::nameChanged);
    connect(m_root, &QLineEdit::textChanged, this, &AddProjectSheet::refresh);
    connect(m_port, &QLineEdit::textChanged, this, &AddProjectSheet::refresh);
    connect(m_browse, &QPushButton::clicked, this, &AddProjectSheet::browse);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_import, &QPushButton::clicked, this, &AddProjectSheet::importProject);
    connect(&m_model, &AppModel::configChanged, this, &AddProjectSheet::refresh);
    refresh();
}

void AddProjectSheet::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_appeared)
        return;
    m_appeared = true;
    if (m_port->text() == kInitialPort)
        m_port->setText(QString::number(m_model.suggestedWebsitePort()));
}

void AddProjectSheet::nameChanged(const QString& name)
{
    // The suggestion follows the name; a database name the user typed is never overwritten.
    const QString current = m_databaseName->text();
    if (current.isEmpty() || current == m_lastSuggestedDatabaseName) {
        m_lastSuggestedDatabaseName = suggestedDatabaseName(name);
        if (current != m_lastSuggestedDatabaseName)
            m_databaseName->setText(m_lastSuggestedDatabaseName);
    }
    refresh();
}

void AddProjectSheet::browse()
{
    if (!m_model.platform().chooseFolder)
        return;
    const QString folder = m_model.platform().chooseFolder();
    if (!folder.isEmpty())
        m_root->setText(folder);
}

bool AddProjectSheet::isImportEnabled() const
{
    if (Text::trimmed(m_name->text()).isEmpty() || Text::trimmed(m_root->text()).isEmpty())
        return false;
    const std::optional<qint64> port = Text::parseInt64(m_port->text());
    if (!port)
        return false;
    const AppConfig& config = m_model.config();
    if (*port == config.phpMyAdminPort)
        return false;
    for (const Project& project : config.projects) {
        if (project.port == *port)
            return false;
    }
    return true;
}

void AddProjectSheet::refresh()
{
    const std::optional<qint64> port = Text::parseInt64(m_port->text());
    const qint64 reserved = m_model.config().phpMyAdminPort;
    const bool showReserved = port && *port == reserved;
    m_reserved->setText(showReserved ? QStringLiteral("Port ") + QString::number(reserved)
                                           + QStringLiteral(" is reserved for shared phpAdmin.")
                                     : QString());
    m_reserved->setVisible(showReserved);
    m_import->setEnabled(isImportEnabled());
}

void AddProjectSheet::importProject()
{
    const qint64 port = Text::parseInt64(m_port->text()).value_or(8082);
    if (m_model.addProject(m_name->text(), m_root->text(), port, m_databaseName->text(), m_databaseUser->text(),
                           m_databasePassword->text()))
        accept();
}
