#include "workspace/NewCodeItemSheet.h"

#include "app/Theme.h"
#include "platform/Text.h"
#include "workspace/CodeIDEModel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

NewCodeItemSheet::NewCodeItemSheet(CodeIDEModel& model, CodeItemType type, QWidget* parent)
    : QDialog(parent)
    , m_model(model)
    , m_type(type)
{
    const QString title = QStringLiteral("New ") + CodeItemTypes::rawValue(type);
    setWindowTitle(title);
    setFixedWidth(Theme::points(460));
    auto* layout = new QVBoxLayout(this);
    const int padding = Theme::points(22);
    layout->setContentsMargins(padding, padding, padding, padding);
    layout->setSpacing(Theme::points(16));

    m_title = new QLabel(title);
    m_title->setTextFormat(Qt::PlainText);
    m_title->setFont(Theme::font(Theme::TextStyle::title2, QFont::Bold));
    layout->addWidget(m_title);

    m_location = new QLabel;
    m_location->setTextFormat(Qt::PlainText);
    m_location->setWordWrap(true);
    m_location->setFont(Theme::monospacedFont(Theme::TextStyle::callout));
    m_location->setMaximumHeight(QFontMetrics(m_location->font()).lineSpacing() * 2 + 2);
    Theme::setForeground(m_location, Theme::secondary());
    layout->addWidget(m_location);

    m_name = new QLineEdit;
    m_name->setPlaceholderText(type == CodeItemType::folder ? QStringLiteral("Folder name")
                                                             : QStringLiteral("File name, for example index.php"));
    m_name->setAccessibleName(m_name->placeholderText());
    layout->addWidget(m_name);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_cancel = new QPushButton(QStringLiteral("Cancel"));
    m_create = new QPushButton(QStringLiteral("Create"));
    Theme::makeProminent(m_create);
    // Return belongs to the name field alone: one create() per press.
    for (QPushButton* button : {m_cancel, m_create}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_create);
    layout->addLayout(buttons);

    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_create, &QPushButton::clicked, this, &NewCodeItemSheet::create);
    connect(m_name, &QLineEdit::returnPressed, this, &NewCodeItemSheet::create);
    connect(m_name, &QLineEdit::textChanged, this, &NewCodeItemSheet::update);
    connect(&m_model, &CodeIDEModel::selectedDirectoryChanged, this, &NewCodeItemSheet::update);
    update();
}

QString NewCodeItemSheet::name() const
{
    return m_name->text();
}

void NewCodeItemSheet::update()
{
    m_location->setText(QStringLiteral("Location: ") + m_model.displayPath(m_model.selectedDirectory()));
    m_create->setEnabled(!Text::trimmed(m_name->text()).isEmpty());
}

void NewCodeItemSheet::create()
{
    if (m_model.createItem(m_name->text(), m_type == CodeItemType::folder))
        accept();
}
