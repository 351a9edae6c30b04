#include "services/CreateWebsiteSheet.h"

#include "app/AccessibleButton.h"
#include "app/AppModel.h"
#include "app/ElidedLabel.h"
#include "app/PageRegistry.h"
#include "app/Spinner.h"
#include "app/SymbolIcons.h"
#include "app/Theme.h"
#include "platform/Text.h"
#include "services/WebsiteCreation.h"

#include <QApplication>
#include <QButtonGroup>
#include <QPixmap>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kWidth = 620;
constexpr int kPadding = 24;
constexpr int kRowSpacing = 18;

QLabel* plainLabel(const QString& text = QString())
{
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QVBoxLayout* column(int spacing)
{
    auto* layout = new QVBoxLayout;
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    layout->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return layout;
}

// The segments of the template picker, one group of radio buttons for assistive technology.
class SegmentGroup : public QWidget {
};

QAccessibleInterface* segmentsAccessibleFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("QPushButton") && object && object->property("segment").toBool())
        return new AccessibleButton(static_cast<QPushButton*>(object), QAccessible::RadioButton);
    if (className == QLatin1String("QWidget")) {
        if (auto* group = dynamic_cast<SegmentGroup*>(object))
            return new QAccessibleWidget(group, QAccessible::Grouping);
    }
    return nullptr;
}

QLabel* headline(const QString& text)
{
    QLabel* label = plainLabel(text);
    Theme::setTextStyle(label, Theme::TextStyle::headline, QFont::DemiBold);
    return label;
}

// The symbol drawn in `color`, `size` pixels square.
QPixmap symbolPixmap(const QString& name, const QColor& color, int size)
{
    return SymbolIcons::drawn(name, color).pixmap(QSize(size, size), qApp ? qApp->devicePixelRatio() : 1.0);
}

const bool registered = PageRegistry::setSheet(SheetKind::createWebsite, [](AppModel& model, QWidget* parent) -> QDialog* {
    return new CreateWebsiteSheet(model, parent);
});

} // namespace

QString CreateWebsiteSheet::symbolName(WebsiteTemplate websiteTemplate)
{
    return websiteTemplate == WebsiteTemplate::laravel ? QStringLiteral("shippingbox") : QStringLiteral("globe");
}

QString CreateWebsiteSheet::description(WebsiteTemplate websiteTemplate)
{
    return websiteTemplate == WebsiteTemplate::laravel
        ? QStringLiteral("Creates a current Laravel project with Composer and configures its .env file.")
        : QStringLiteral("Downloads WordPress, creates wp-config.php and connects it to shared mySQL.");
}

CreateWebsiteSheet::CreateWebsiteSheet(AppModel& model, QWidget* parent)
    : QDialog(parent)
    , m_model(model)
{
    (void)registered;
    Theme::install();
    setObjectName(QStringLiteral("createWebsiteSheet"));
    setWindowTitle(QStringLiteral("Create Website"));
    setFixedWidth(kWidth);

    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    rows->setSpacing(kRowSpacing);
    rows->setAlignment(Qt::AlignTop);

    // 1-2: heading and explanation.
    QLabel* heading = plainLabel(QStringLiteral("Create Website"));
    Theme::setTextStyle(heading, Theme::TextStyle::title, QFont::Bold);
    rows->addWidget(heading);
    QLabel* intro = plainLabel(QStringLiteral("Kovani will create the source code, shared mySQL database and framework "
                                              "configuration, then start the website automatically."));
    intro->setWordWrap(true);
    Theme::setForeground(intro, Theme::secondary());
    rows->addWidget(intro);

    // 3: the template picker, one segment per template.
    auto* picker = new QHBoxLayout;
    picker->setContentsMargins(0, 0, 0, 0);
    picker->setSpacing(0);
    picker->addWidget(plainLabel(QStringLiteral("Website type")));
    picker->addSpacing(8);
    const QColor accent = Theme::accent();
    // The focused segment keeps a visible ring, also when it is the checked (filled) one.
    const QString segmentStyle = QStringLiteral("QPushButton:checked { background: %1; color: %2; border-color: %1; }"
                                                "QPushButton:focus { border: 2px solid %3; padding: 3px 11px; }")
                                     .arg(accent.name(), accent.lightness() > 160 ? QStringLiteral("black") : QStringLiteral("white"),
                                          Theme::focusRing(true).name());
    static const bool accessible = [] {
        QAccessible::installFactory(segmentsAccessibleFactory);
        return true;
    }();
    (void)accessible;
    auto* segmentGroup = new SegmentGroup;
    segmentGroup->setAccessibleName(QStringLiteral("Website type"));
    auto* segmentRow = new QHBoxLayout(segmentGroup);
    segmentRow->setContentsMargins(0, 0, 0, 0);
    segmentRow->setSpacing(0);
    auto* segments = new QButtonGroup(this);
    segments->setExclusive(true);
    // The segment's state is the choice: a click, a key or an accessibility action that checks a
    // segment chooses its template.
    connect(segments, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked && static_cast<WebsiteTemplate>(id) != m_template)
            setTemplate(static_cast<WebsiteTemplate>(id));
    });
    for (WebsiteTemplate t : WebsiteTemplates::allCases()) {
        // Marked before anything makes its accessible side.
        auto* segment = new QPushButton;
        segment->setProperty("segment", true);
        segment->setText(WebsiteTemplates::rawValue(t));
        segment->setCheckable(true);
        segment->setStyleSheet(segmentStyle);
        segment->setAutoDefault(false);
        segment->setObjectName(t == WebsiteTemplate::laravel ? QStringLiteral("laravelSegment")
                                                             : QStringLiteral("wordpressSegment"));
        segments->addButton(segment, static_cast<int>(t));
        segmentRow->addWidget(segment);
        (t == WebsiteTemplate::laravel ? m_laravelSegment : m_wordpressSegment) = segment;
    }
    picker->addWidget(segmentGroup);
    picker->addStretch(1);
    rows->addLayout(picker);

    // 4: icon and description of the template.
    auto* templateRow = new QHBoxLayout;
    templateRow->setContentsMargins(0, 0, 0, 0);
    templateRow->setSpacing(12);
    m_templateIcon = plainLabel();
    m_templateIcon->setObjectName(QStringLiteral("templateIcon"));
    templateRow->addWidget(m_templateIcon, 0, Qt::AlignTop);
    m_templateDescription = plainLabel();
    m_templateDescription->setObjectName(QStringLiteral("templateDescription"));
    m_templateDescription->setWordWrap(true);
    Theme::setForeground(m_templateDescription, Theme::secondary());
    templateRow->addWidget(m_templateDescription, 1, Qt::AlignTop);
    rows->addLayout(templateRow);

    // 5: the website name.
    m_nameField = new QLineEdit;
    m_nameField->setObjectName(QStringLiteral("nameField"));
    m_nameField->setPlaceholderText(QStringLiteral("Website name"));
    m_nameField->setAccessibleName(m_nameField->placeholderText());
    rows->addWidget(m_nameField);
    connect(m_nameField, &QLineEdit::textChanged, this, &CreateWebsiteSheet::nameChanged);

    // 6: the parent folder and the destination line.
    QVBoxLayout* inside = column(6);
    QLabel* insideLabel = headline(QStringLiteral("Create inside"));
    inside->addWidget(insideLabel);
    auto* folderRow = new QHBoxLayout;
    folderRow->setContentsMargins(0, 0, 0, 0);
    m_parentField = new QLineEdit;
    m_parentField->setObjectName(QStringLiteral("parentField"));
    m_parentField->setPlaceholderText(QStringLiteral("/path/to/websites"));
    insideLabel->setBuddy(m_parentField);
    folderRow->addWidget(m_parentField, 1);
    m_browseButton = new QPushButton(QStringLiteral("Browse"));
    m_browseButton->setObjectName(QStringLiteral("browseButton"));
    m_browseButton->setAutoDefault(false);
    folderRow->addWidget(m_browseButton);
    inside->addLayout(folderRow);
    m_destinationLine = new ElidedLabel(QString(), 2);
    m_destinationLine->setObjectName(QStringLiteral("destinationLine"));
    m_destinationLine->setFont(Theme::monospacedFont(Theme::TextStyle::caption));
    Theme::setForeground(m_destinationLine, Theme::secondary());
    inside->addWidget(m_destinationLine);
    rows->addLayout(inside);
    connect(m_parentField, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_parentDirectory = text;
        refresh();
    });
    connect(m_browseButton, &QPushButton::clicked, this, &CreateWebsiteSheet::browse);

    // 7: port and database name.
    auto* numbers = new QHBoxLayout;
    numbers->setContentsMargins(0, 0, 0, 0);
    numbers->setSpacing(24);
    QVBoxLayout* portColumn = column(6);
    QLabel* portLabel = headline(QStringLiteral("Website port"));
    portColumn->addWidget(portLabel);
    m_portField = new QLineEdit;
    portLabel->setBuddy(m_portField);
    m_portField->setObjectName(QStringLiteral("portField"));
    m_portField->setPlaceholderText(QStringLiteral("8082"));
    m_portField->setFixedWidth(Theme::points(120));
    portColumn->addWidget(m_portField);
    numbers->addLayout(portColumn);
    QVBoxLayout* databaseColumn = column(6);
    QLabel* databaseLabel = headline(QStringLiteral("Database name"));
    databaseColumn->addWidget(databaseLabel);
    m_databaseField = new QLineEdit;
    databaseLabel->setBuddy(m_databaseField);
    m_databaseField->setObjectName(QStringLiteral("databaseField"));
    m_databaseField->setPlaceholderText(QStringLiteral("website_name"));
    m_databaseField->setMinimumWidth(Theme::points(220));
    databaseColumn->addWidget(m_databaseField);
    numbers->addLayout(databaseColumn, 1);
    rows->addLayout(numbers);
    connect(m_portField, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_port = text;
        refresh();
    });
    connect(m_databaseField, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_databaseName = text;
        refresh();
    });

    // 8: the reserved-port warning.
    m_reservedPortWarning = new QWidget;
    m_reservedPortWarning->setObjectName(QStringLiteral("reservedPortWarning"));
    auto* warning = new QHBoxLayout(m_reservedPortWarning);
    warning->setContentsMargins(0, 0, 0, 0);
    QLabel* warningIcon = plainLabel();
    const int iconSize = QFontMetrics(font()).height();
    warningIcon->setPixmap(symbolPixmap(QStringLiteral("exclamationmark.triangle.fill"), Theme::red(), iconSize));
    warning->addWidget(warningIcon);
    m_reservedPortText = plainLabel();
    Theme::setForeground(m_reservedPortText, Theme::red());
    warning->addWidget(m_reservedPortText);
    warning->addStretch(1);
    rows->addWidget(m_reservedPortWarning);

    // 9: what will be configured.
    auto* box = new QFrame;
    box->setObjectName(QStringLiteral("configurationBox"));
    Theme::makeCard(box);
    auto* lines = new QVBoxLayout(box);
    lines->setContentsMargins(6, 6, 6, 6);
    lines->setSpacing(6);
    lines->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lines->addWidget(headline(QStringLiteral("Automatic configuration")));
    const QFont mono = Theme::monospacedFont(Theme::TextStyle::caption);
    for (QLabel** line : {&m_configURL, &m_configDatabase, &m_configMySQL}) {
        *line = plainLabel();
        (*line)->setFont(mono);
        lines->addWidget(*line);
    }
    m_configURL->setObjectName(QStringLiteral("configURL"));
    m_configDatabase->setObjectName(QStringLiteral("configDatabase"));
    m_configMySQL->setObjectName(QStringLiteral("configMySQL"));
    rows->addWidget(box);

    // 10: progress while the model creates a website.
    m_progressRow = new QWidget;
    m_progressRow->setObjectName(QStringLiteral("progressRow"));
    auto* progress = new QHBoxLayout(m_progressRow);
    progress->setContentsMargins(0, 0, 0, 0);
    progress->setSpacing(10);
    m_spinner = new Spinner(16);
    m_spinner->setObjectName(QStringLiteral("spinner"));
    progress->addWidget(m_spinner, 0, Qt::AlignVCenter);
    m_progressText = plainLabel();
    m_progressText->setObjectName(QStringLiteral("progressText"));
    Theme::setForeground(m_progressText, Theme::secondary());
    progress->addWidget(m_progressText, 1, Qt::AlignVCenter);
    rows->addWidget(m_progressRow);

    // 11: the buttons. Return presses "Create and Start" while it is enabled (it is the default
    // button; no field acts on Return itself, so one press is one creation).
    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->addStretch(1);
    m_cancelButton = new QPushButton(QStringLiteral("Cancel"));
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    m_cancelButton->setAutoDefault(false);
    buttons->addWidget(m_cancelButton);
    m_createButton = new QPushButton(QStringLiteral("Create and Start"));
    m_createButton->setObjectName(QStringLiteral("createButton"));
    Theme::makeProminent(m_createButton);
    m_createButton->setAutoDefault(false);
    m_createButton->setDefault(true);
    buttons->addWidget(m_createButton);
    rows->addLayout(buttons);
    connect(m_cancelButton, &QPushButton::clicked, this, &CreateWebsiteSheet::reject);
    connect(m_createButton, &QPushButton::clicked, this, &CreateWebsiteSheet::createAndStart);

    connect(&m_model, &AppModel::isCreatingWebsiteChanged, this, &CreateWebsiteSheet::refresh);
    connect(&m_model, &AppModel::websiteCreationProgressChanged, this, &CreateWebsiteSheet::refresh);
    connect(&m_model, &AppModel::configChanged, this, &CreateWebsiteSheet::refresh);

    setTemplate(WebsiteTemplate::laravel);
}

QString CreateWebsiteSheet::projectFolderName() const
{
    // Lower-cased, every character that is not a letter or number a "-", runs collapsed, "-"
    // trimmed: the slug rule, which ignores blanks at the ends as trimming would.
    return AppModel::slug(m_name);
}

bool CreateWebsiteSheet::canCreate() const
{
    return !m_model.isCreatingWebsite() && !Text::trimmed(m_name).isEmpty() && !m_parentDirectory.isEmpty()
        && Text::parseInt64(m_port).has_value();
}

void CreateWebsiteSheet::setTemplate(WebsiteTemplate websiteTemplate)
{
    m_template = websiteTemplate;
    refresh();
}

void CreateWebsiteSheet::nameChanged(const QString& text)
{
    m_name = text;
    // A database name the user typed is never overwritten.
    if (m_databaseName.isEmpty() || m_databaseName == m_lastSuggestedDatabaseName) {
        const QString suggestion = WebsiteCreation::databaseName(QString(), Text::trimmed(text));
        m_lastSuggestedDatabaseName = suggestion;
        m_databaseName = suggestion;
        if (m_databaseField->text() != suggestion)
            m_databaseField->setText(suggestion);
    }
    refresh();
}

void CreateWebsiteSheet::browse()
{
    const auto& chooser = m_model.platform().chooseFolder;
    if (!chooser)
        return;
    const QString chosen = chooser();
    if (!chosen.isEmpty())
        m_parentField->setText(chosen);
}

void CreateWebsiteSheet::createAndStart()
{
    if (!canCreate())
        return;
    const qint64 port = Text::parseInt64(m_port).value_or(0);
    QPointer<CreateWebsiteSheet> self(this);
    m_model.createWebsite(m_template, m_name, m_parentDirectory, port, m_databaseName, [self](bool created) {
        if (created && self)
            self->accept();
    });
}

void CreateWebsiteSheet::reject()
{
    // Not while the model is creating a website: neither Cancel nor Escape closes the sheet.
    if (m_model.isCreatingWebsite())
        return;
    QDialog::reject();
}

void CreateWebsiteSheet::showEvent(QShowEvent* event)
{
    if (m_parentField->text().isEmpty())
        m_parentField->setText(m_model.sitesURL());
    if (m_portField->text().isEmpty())
        m_portField->setText(QString::number(m_model.suggestedWebsitePort()));
    QDialog::showEvent(event);
    if (!event->spontaneous())
        m_nameField->setFocus(Qt::OtherFocusReason);
}

void CreateWebsiteSheet::closeEvent(QCloseEvent* event)
{
    if (m_model.isCreatingWebsite()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void CreateWebsiteSheet::refresh()
{
    const AppConfig& config = m_model.config();
    const bool creating = m_model.isCreatingWebsite();

    m_laravelSegment->setChecked(m_template == WebsiteTemplate::laravel);
    m_wordpressSegment->setChecked(m_template == WebsiteTemplate::wordpress);
    const int iconSize = QFontMetrics(Theme::font(Theme::TextStyle::title2)).height();
    m_templateIcon->setPixmap(symbolPixmap(symbolName(m_template), Theme::accent(), iconSize));
    m_templateIcon->setProperty("symbol", symbolName(m_template));
    m_templateDescription->setText(description(m_template));

    m_destinationLine->setVisible(!m_name.isEmpty());
    m_destinationLine->setText(QStringLiteral("Destination: ") + m_parentDirectory + u'/' + projectFolderName());

    const std::optional<qint64> port = Text::parseInt64(m_port);
    const bool reserved = port && *port == config.phpMyAdminPort;
    m_reservedPortWarning->setVisible(reserved);
    m_reservedPortText->setText(QStringLiteral("Port %1 is reserved for shared phpAdmin.").arg(config.phpMyAdminPort));

    m_configURL->setText(QStringLiteral("URL: http://localhost:") + (m_port.isEmpty() ? QStringLiteral("port") : m_port));
    m_configDatabase->setText(QStringLiteral("Database: ")
                              + (m_databaseName.isEmpty() ? QStringLiteral("generated_from_name") : m_databaseName));
    // One pass, so a "%1" inside the user or host stays as typed.
    m_configMySQL->setText(QStringLiteral("mySQL: %1@%2:%3")
                               .arg(config.mysqlUser, config.mysqlHost, QString::number(config.mysqlPort)));

    m_progressRow->setVisible(creating);
    m_progressText->setText(Text::displayable(m_model.websiteCreationProgress()));

    m_cancelButton->setEnabled(!creating);
    m_createButton->setEnabled(canCreate());
    fitHeight();
}

void CreateWebsiteSheet::fitHeight()
{
    // Fixed width; the height follows the rows shown.
    QLayout* rows = layout();
    rows->activate();
    const int height = rows->hasHeightForWidth() ? rows->totalHeightForWidth(kWidth) : rows->totalSizeHint().height();
    setFixedHeight(height);
}
