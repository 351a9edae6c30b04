#include "workspace/CodeIDEView.h"

#include "app/AppLogo.h"
#include "app/ElidedLabel.h"
#include "app/PageRegistry.h"
#include "app/SymbolIcons.h"
#include "app/Theme.h"
#include "workspace/CodeFileTree.h"
#include "workspace/CodeIDEModel.h"
#include "workspace/CodeTextEditor.h"
#include "workspace/FileKindSymbol.h"
#include "workspace/NewCodeItemSheet.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

const bool registered = PageRegistry::setCodeIDEView([](const Project& project, std::function<void()> onClose) -> QWidget* {
    return new CodeIDEView(project, std::move(onClose));
});

QLabel* plainLabel(const QString& text = QString())
{
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QFrame* divider(Qt::Orientation orientation, int length = -1)
{
    auto* line = new QFrame;
    line->setFrameShape(QFrame::NoFrame);
    if (orientation == Qt::Vertical) {
        line->setFixedWidth(1);
        if (length > 0)
            line->setFixedHeight(length);
    } else {
        line->setFixedHeight(1);
    }
    Theme::setBackground(line, Theme::withOpacity(QApplication::palette().color(QPalette::WindowText), 0.14));
    return line;
}

QFont caption2Font()
{
    QFont font = Theme::font(Theme::TextStyle::caption);
    font.setPixelSize(std::max(9, font.pixelSize() - 1));
    return font;
}

QColor tertiary()
{
    return Theme::withOpacity(QApplication::palette().color(QPalette::WindowText), 0.4);
}

void setSymbol(QLabel* label, const QString& name, const QColor& color, int side)
{
    label->setFixedSize(side, side);
    label->setPixmap(SymbolIcons::drawn(name, color).pixmap(QSize(side, side), label->devicePixelRatioF()));
    label->setProperty("symbol", name);
}

QPushButton* symbolButton(const QString& symbol, const QString& title)
{
    auto* button = new QPushButton(SymbolIcons::icon(symbol), title);
    button->setProperty("symbol", symbol);
    button->setAccessibleName(title);
    button->setAutoDefault(false);
    return button;
}

QString extensionOf(const std::optional<QUrl>& file)
{
    return file ? QFileInfo(file->toLocalFile()).suffix() : QString();
}

// The delete confirmation: title, message, Cancel and a destructive Delete (accept()).
QDialog* makeConfirmation(const QString& title, const QString& message, QWidget* parent)
{
    auto* dialog = new QDialog(parent);
    dialog->setWindowTitle(title);
    dialog->setObjectName(QStringLiteral("deleteConfirmation"));
    auto* layout = new QVBoxLayout(dialog);
    const int padding = Theme::points(20);
    layout->setContentsMargins(padding, padding, padding, padding);
    layout->setSpacing(Theme::points(10));
    auto* heading = plainLabel(title);
    heading->setObjectName(QStringLiteral("title"));
    heading->setFont(Theme::font(Theme::TextStyle::headline));
    layout->addWidget(heading);
    auto* text = plainLabel(message);
    text->setObjectName(QStringLiteral("message"));
    text->setWordWrap(true);
    text->setMinimumWidth(Theme::points(300));
    layout->addWidget(text);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"));
    auto* remove = new QPushButton(QStringLiteral("Delete"));
    remove->setObjectName(QStringLiteral("destructive"));
    Theme::setForeground(remove, Theme::red());
    for (QPushButton* button : {cancel, remove}) {
        button->setAutoDefault(false);
        buttons->addWidget(button);
    }
    layout->addLayout(buttons);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    QObject::connect(remove, &QPushButton::clicked, dialog, &QDialog::accept);
    return dialog;
}

} // namespace

CodeIDEView::CodeIDEView(const Project& project, std::function<void()> onClose, QWidget* parent)
    : QWidget(parent)
    , m_model(std::make_unique<CodeIDEModel>(project))
    , m_onClose(std::move(onClose))
{
    setObjectName(QStringLiteral("codeIDE-") + project.id);
    setMinimumSize(Theme::points(1060), Theme::points(700));
    Theme::setBackground(this, Theme::windowBackground());

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildToolbar());
    layout->addWidget(divider(Qt::Horizontal));
    m_splitter = new QSplitter(Qt::Horizontal);
    m_splitter->setChildrenCollapsible(false);
    m_splitter->setHandleWidth(1);
    m_splitter->addWidget(buildSidebar());
    m_splitter->addWidget(buildEditorPane());
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({Theme::points(290), Theme::points(1030)});
    layout->addWidget(m_splitter, 1);
    layout->addWidget(divider(Qt::Horizontal));
    layout->addWidget(buildStatusBar());

    m_escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    m_escape->setContext(Qt::WidgetWithChildrenShortcut);
    connect(m_escape, &QShortcut::activated, this, &CodeIDEView::done);
    // While a sheet or the confirmation is open, Escape is theirs.
    auto escapeFollowsDialogs = [this]() { m_escape->setEnabled(!m_newItemType && !m_deleteCandidate); };
    connect(this, &CodeIDEView::newItemTypeChanged, this, escapeFollowsDialogs);
    connect(this, &CodeIDEView::deleteCandidateChanged, this, escapeFollowsDialogs);

    CodeIDEModel& model = *m_model;
    connect(&model, &CodeIDEModel::selectedTreeItemChanged, this, &CodeIDEView::updateToolbar);
    connect(&model, &CodeIDEModel::treeRevisionChanged, this, &CodeIDEView::updateToolbar);
    connect(&model, &CodeIDEModel::selectedDirectoryChanged, this, &CodeIDEView::updateSidebarHeader);
    connect(&model, &CodeIDEModel::selectedFileChanged, this, &CodeIDEView::updateEditor);
    connect(&model, &CodeIDEModel::isEditableChanged, this, &CodeIDEView::updateEditor);
    connect(&model, &CodeIDEModel::statusMessageChanged, this, [this]() {
        updateStatusBar();
        if (m_model->selectedFile() && !m_model->isEditable())
            m_panelDescription->setText(m_model->statusMessage());
    });
    connect(&model, &CodeIDEModel::selectedFileChanged, this, &CodeIDEView::updateStatusBar);
    connect(&model, &CodeIDEModel::contentTextChanged, this, &CodeIDEView::pushContentToEditor);
    connect(&model, &CodeIDEModel::diskConflictChanged, this, &CodeIDEView::updateDiskChangeBar);
    // Quitting with unsaved text writes it.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this]() { m_model->saveBeforeClosing(); });
    // From the tree, Tab reaches the prompt before the editor.
    setTabOrder(m_tree, m_keepText);
    setTabOrder(m_keepText, m_takeFile);

    updateToolbar();
    updateSidebarHeader();
    updateEditor();
    updateStatusBar();
}

CodeIDEView::~CodeIDEView()
{
    m_model->saveBeforeClosing();
    // The sheets and the editor observe the model: they go first.
    delete m_sheet.data();
    delete m_confirmation.data();
    delete m_splitter;
}

// ---- Sections ---------------------------------------------------------------------------------

QWidget* CodeIDEView::buildToolbar()
{
    auto* bar = new QWidget;
    bar->setObjectName(QStringLiteral("toolbar"));
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(Theme::points(14), Theme::points(10), Theme::points(14), Theme::points(10));
    row->setSpacing(Theme::points(10));

    row->addWidget(new AppLogo(28));
    auto* titles = new QVBoxLayout;
    titles->setSpacing(Theme::points(1));
    auto* title = plainLabel(QStringLiteral("Code IDE"));
    Theme::setTextStyle(title, Theme::TextStyle::headline, QFont::DemiBold);
    titles->addWidget(title);
    m_projectName = plainLabel(m_model->project().name);
    Theme::setTextStyle(m_projectName, Theme::TextStyle::caption);
    Theme::setForeground(m_projectName, Theme::secondary());
    titles->addWidget(m_projectName);
    row->addLayout(titles);
    row->addWidget(divider(Qt::Vertical, Theme::points(24)));

    m_newFile = symbolButton(QStringLiteral("doc.badge.plus"), QStringLiteral("New File"));
    m_newFolder = symbolButton(QStringLiteral("folder.badge.plus"), QStringLiteral("New Folder"));
    m_refresh = symbolButton(QStringLiteral("arrow.clockwise"), QStringLiteral("Refresh"));
    m_delete = symbolButton(QStringLiteral("trash"), QStringLiteral("Delete"));
    m_finder = symbolButton(QStringLiteral("folder"), QStringLiteral("Finder"));
    m_finder->setToolTip(QStringLiteral("Show the project folder in the file manager"));
    Theme::setForeground(m_delete, Theme::red());
    for (QPushButton* button : {m_newFile, m_newFolder, m_refresh, m_delete, m_finder})
        row->addWidget(button);
    row->addStretch(1);
    m_done = new QPushButton(QStringLiteral("Done"));
    m_done->setAutoDefault(false);
    m_done->setToolTip(QStringLiteral("Save and close (Esc)"));
    row->addWidget(m_done);

    connect(m_newFile, &QPushButton::clicked, this, [this]() { setNewItemType(CodeItemType::file); });
    connect(m_newFolder, &QPushButton::clicked, this, [this]() { setNewItemType(CodeItemType::folder); });
    connect(m_refresh, &QPushButton::clicked, this, [this]() { m_model->refreshTree(); });
    connect(m_delete, &QPushButton::clicked, this, [this]() { setDeleteCandidate(m_model->selectedTreeItem()); });
    connect(m_finder, &QPushButton::clicked, this, [this]() { m_model->revealInFileManager(); });
    connect(m_done, &QPushButton::clicked, this, &CodeIDEView::done);
    return bar;
}

QWidget* CodeIDEView::buildSidebar()
{
    auto* sidebar = new QWidget;
    sidebar->setObjectName(QStringLiteral("fileSidebar"));
    Theme::setBackground(sidebar, Theme::controlBackground());
    sidebar->setMinimumWidth(Theme::points(240));
    sidebar->setMaximumWidth(Theme::points(380));
    auto* column = new QVBoxLayout(sidebar);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(Theme::points(12), Theme::points(9), Theme::points(12), Theme::points(9));
    m_sidebarTitle = plainLabel(QFileInfo(m_model->rootURL().toLocalFile()).fileName().toUpper());
    m_sidebarTitle->setFont(Theme::font(Theme::TextStyle::caption, QFont::Bold));
    Theme::setForeground(m_sidebarTitle, Theme::secondary());
    header->addWidget(m_sidebarTitle);
    header->addStretch(1);
    m_sidebarLocation = new ElidedLabel;
    m_sidebarLocation->setFont(caption2Font());
    Theme::setForeground(m_sidebarLocation, tertiary());
    header->addWidget(m_sidebarLocation, 0, Qt::AlignRight | Qt::AlignVCenter);
    column->addLayout(header);
    column->addWidget(divider(Qt::Horizontal));

    m_tree = new CodeFileTree(*m_model);
    column->addWidget(m_tree, 1);
    return sidebar;
}

QWidget* CodeIDEView::buildEditorPane()
{
    auto* pane = new QWidget;
    pane->setObjectName(QStringLiteral("editorPane"));
    pane->setMinimumWidth(Theme::points(620));
    auto* column = new QVBoxLayout(pane);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* header = new QWidget;
    header->setObjectName(QStringLiteral("editorHeader"));
    header->setFixedHeight(Theme::points(40));
    Theme::setBackground(header, Theme::withOpacity(Theme::controlBackground(), 0.55));
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(Theme::points(14), 0, Theme::points(14), 0);
    row->setSpacing(Theme::points(6));
    m_headerIcon = new QLabel;
    row->addWidget(m_headerIcon);
    m_headerPath = new ElidedLabel;
    m_headerPath->setFont(Theme::monospacedFont(Theme::TextStyle::callout));
    row->addWidget(m_headerPath, 1);
    m_autoSave = plainLabel(QStringLiteral("Auto Save"));
    Theme::setTextStyle(m_autoSave, Theme::TextStyle::caption);
    Theme::setForeground(m_autoSave, Theme::green());
    row->addWidget(m_autoSave);
    column->addWidget(header);
    column->addWidget(divider(Qt::Horizontal));

    m_diskBar = new QWidget;
    m_diskBar->setObjectName(QStringLiteral("diskChangeBar"));
    m_diskBar->setAccessibleName(QStringLiteral("File changed on disk"));
    Theme::setBackground(m_diskBar, Theme::withOpacity(QColor(255, 149, 0), 0.16));
    auto* bar = new QHBoxLayout(m_diskBar);
    bar->setContentsMargins(Theme::points(14), Theme::points(6), Theme::points(14), Theme::points(6));
    bar->setSpacing(Theme::points(8));
    auto* warning = new QLabel;
    setSymbol(warning, QStringLiteral("exclamationmark.triangle"), QColor(255, 149, 0), Theme::points(14));
    bar->addWidget(warning);
    m_diskLabel = new ElidedLabel;
    m_diskLabel->setObjectName(QStringLiteral("diskChangeMessage"));
    bar->addWidget(m_diskLabel, 1);
    // Alt+K and Alt+T reach them from the editor too, where Tab is typed as text.
    m_keepText = new QPushButton(QStringLiteral("&Keep My Text"));
    m_keepText->setAccessibleName(QStringLiteral("Keep My Text"));
    m_takeFile = new QPushButton(QStringLiteral("&Take File's Text"));
    m_takeFile->setAccessibleName(QStringLiteral("Take File's Text"));
    for (QPushButton* button : {m_keepText, m_takeFile}) {
        button->setAutoDefault(false);
        bar->addWidget(button);
    }
    m_diskBar->hide();
    column->addWidget(m_diskBar);
    connect(m_keepText, &QPushButton::clicked, this, [this]() { m_model->keepEditorText(); });
    connect(m_takeFile, &QPushButton::clicked, this, [this]() { m_model->takeDiskText(); });

    m_content = new QStackedWidget;
    m_panel = new QWidget;
    m_panel->setObjectName(QStringLiteral("emptyState"));
    auto* panel = new QVBoxLayout(m_panel);
    panel->setSpacing(Theme::points(8));
    panel->addStretch(1);
    m_panelIcon = new QLabel;
    panel->addWidget(m_panelIcon, 0, Qt::AlignHCenter);
    m_panelTitle = plainLabel();
    m_panelTitle->setFont(Theme::font(Theme::TextStyle::title2, QFont::Bold));
    m_panelTitle->setAlignment(Qt::AlignHCenter);
    panel->addWidget(m_panelTitle);
    m_panelDescription = plainLabel();
    m_panelDescription->setWordWrap(true);
    m_panelDescription->setAlignment(Qt::AlignHCenter);
    Theme::setForeground(m_panelDescription, Theme::secondary());
    panel->addWidget(m_panelDescription);
    panel->addStretch(1);
    m_content->addWidget(m_panel);
    column->addWidget(m_content, 1);
    return pane;
}

QWidget* CodeIDEView::buildStatusBar()
{
    auto* bar = new QWidget;
    bar->setObjectName(QStringLiteral("statusBar"));
    bar->setFixedHeight(Theme::points(28));
    Theme::setBackground(bar, Theme::controlBackground());
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(Theme::points(12), 0, Theme::points(12), 0);
    m_statusIcon = new QLabel;
    row->addWidget(m_statusIcon);
    m_status = new ElidedLabel;
    Theme::setTextStyle(m_status, Theme::TextStyle::caption);
    row->addWidget(m_status, 1);
    m_extension = plainLabel();
    m_extension->setFont(Theme::monospacedFont(Theme::TextStyle::caption));
    Theme::setForeground(m_extension, Theme::secondary());
    row->addWidget(m_extension);
    auto* intelliSense = plainLabel(QStringLiteral("HTML IntelliSense \u00b7 Ctrl+Space"));
    Theme::setTextStyle(intelliSense, Theme::TextStyle::caption);
    Theme::setForeground(intelliSense, Theme::secondary());
    row->addWidget(intelliSense);
    auto* encoding = plainLabel(QStringLiteral("UTF-8"));
    encoding->setFont(Theme::monospacedFont(Theme::TextStyle::caption));
    Theme::setForeground(encoding, Theme::secondary());
    row->addWidget(encoding);
    return bar;
}

// ---- State ------------------------------------------------------------------------------------

QString CodeIDEView::fileKindSymbol(const QString& fileName)
{
    // No file selected: the empty name gives the plain document.
    return FileKindSymbol::forFileName(fileName);
}

bool CodeIDEView::isFailure(const QString& statusMessage)
{
    return statusMessage.startsWith(QLatin1String("Could not"));
}

void CodeIDEView::updateToolbar()
{
    m_delete->setEnabled(m_model->canDelete(m_model->selectedTreeItem()));
}

void CodeIDEView::updateSidebarHeader()
{
    m_sidebarLocation->setText(m_model->displayPath(m_model->selectedDirectory()));
}

void CodeIDEView::updateEditor()
{
    const std::optional<QUrl>& file = m_model->selectedFile();
    const int iconSide = Theme::points(14);
    setSymbol(m_headerIcon, fileKindSymbol(file ? QFileInfo(file->toLocalFile()).fileName() : QString()),
              Theme::secondary(), iconSide);
    m_headerPath->setText(file ? m_model->displayPath(*file) : QStringLiteral("No file selected"));
    m_autoSave->setVisible(m_model->isEditable());

    const int panelSide = Theme::points(44);
    if (!file || !m_model->isEditable()) {
        if (m_editor) {
            m_model->releaseContent(m_editor);
            m_content->removeWidget(m_editor);
            m_editor->hide();
            m_editor->deleteLater();
            m_editor = nullptr;
            m_editorDocumentID.clear();
        }
        if (!file) {
            setSymbol(m_panelIcon, QStringLiteral("chevron.left.forwardslash.chevron.right"), Theme::secondary(), panelSide);
            m_panelTitle->setText(QStringLiteral("Select a source file"));
            m_panelDescription->setText(QStringLiteral("Choose a text file from the project tree to edit it."));
        } else {
            setSymbol(m_panelIcon, QStringLiteral("doc.badge.ellipsis"), Theme::secondary(), panelSide);
            m_panelTitle->setText(QStringLiteral("Preview unavailable"));
            m_panelDescription->setText(m_model->statusMessage());
        }
        m_content->setCurrentWidget(m_panel);
        return;
    }

    // Another file gets an editor of its own.
    const QString documentID = QDir::cleanPath(file->toLocalFile());
    if (m_editor && documentID == m_editorDocumentID)
        return;
    if (m_editor) {
        m_model->releaseContent(m_editor);
        m_content->removeWidget(m_editor);
        m_editor->hide();
        m_editor->deleteLater();
    }
    auto* editor = new CodeTextEditor;
    editor->setObjectName(QStringLiteral("editor"));
    // Shown and sized while still empty: a resize lays out the whole text again.
    m_content->addWidget(editor);
    m_content->setCurrentWidget(editor);
    editor->setContent(m_model->content(), QFileInfo(file->toLocalFile()).fileName(), documentID);
    connect(editor, &CodeTextEditor::textEdited, this, [this]() {
        m_applyingEdit = true;
        bindEditorContent();
        m_model->contentEdited();
        m_applyingEdit = false;
    });
    m_editor = editor;
    m_editorDocumentID = documentID;
    setTabOrder(m_takeFile, editor);
    // A file just created gets the keyboard once its editor is shown.
    if (m_focusEditorFor == documentID)
        editor->setFocus(Qt::OtherFocusReason);
    m_focusEditorFor.clear();
    bindEditorContent();
}

void CodeIDEView::bindEditorContent()
{
    QPointer<CodeTextEditor> editor = m_editor;
    if (!editor)
        return;
    // The model reads the editor's text where it is, so an edit costs no copy of the whole text.
    m_model->bindContent(
        editor,
        [editor]() -> const QString& {
            static const QString none;
            return editor ? editor->text() : none;
        },
        [editor]() -> qsizetype { return editor ? editor->textLength() : 0; });
}

void CodeIDEView::pushContentToEditor()
{
    CodeTextEditor* editor = m_editor.data();
    if (!editor)
        return;
    // An edit from the editor is its own text; anything else is pushed to it.
    if (!m_applyingEdit && editor->text() != m_model->content()) {
        editor->setContent(m_model->content(), QFileInfo(m_model->selectedFile()->toLocalFile()).fileName(),
                           m_editorDocumentID);
        bindEditorContent();
    }
    // Every change of the text while the editor is shown; the model tells edits from loads.
    m_model->contentChanged();
}

void CodeIDEView::updateStatusBar()
{
    const QString& message = m_model->statusMessage();
    const int side = Theme::points(13);
    if (isFailure(message))
        setSymbol(m_statusIcon, QStringLiteral("exclamationmark.triangle"), Theme::red(), side);
    else
        setSymbol(m_statusIcon, QStringLiteral("checkmark.circle"), Theme::secondary(), side);
    m_status->setText(message);
    m_extension->setText(extensionOf(m_model->selectedFile()).toUpper());
}

void CodeIDEView::updateDiskChangeBar()
{
    const bool conflict = m_model->hasDiskConflict() && m_model->selectedFile();
    if (conflict) {
        const QString path = m_model->displayPath(*m_model->selectedFile());
        m_diskLabel->setText(path + QStringLiteral(" changed on disk. Your text here is not saved."));
        m_keepText->setToolTip(QStringLiteral("Write your text over ") + path + QStringLiteral(" (Alt+K)"));
        m_keepText->setAccessibleDescription(QStringLiteral("Writes your text over ") + path + QStringLiteral(" on disk"));
        m_takeFile->setToolTip(QStringLiteral("Show the text of ") + path + QStringLiteral(" on disk; yours is kept in Save copies (Alt+T)"));
        m_takeFile->setAccessibleDescription(QStringLiteral("Shows the text of ") + path
                                             + QStringLiteral(" on disk and keeps yours in the Save copies folder"));
    }
    // The keyboard goes back to the text once the choice is made.
    const bool hadFocus = m_diskBar->isAncestorOf(QApplication::focusWidget());
    m_diskBar->setVisible(conflict);
    if (!conflict && hadFocus && m_editor)
        m_editor->setFocus(Qt::OtherFocusReason);
}

CodeTextEditor* CodeIDEView::editor() const
{
    return m_editor.data();
}

NewCodeItemSheet* CodeIDEView::newItemSheet() const
{
    return m_sheet.data();
}

QDialog* CodeIDEView::deleteConfirmation() const
{
    return m_confirmation.data();
}

QWidget* CodeIDEView::editorContent() const
{
    return m_content->currentWidget();
}

// ---- Sheets, Done, leaving ----------------------------------------------------------------------

void CodeIDEView::setNewItemType(const std::optional<CodeItemType>& type)
{
    if (type == m_newItemType)
        return;
    if (NewCodeItemSheet* old = m_sheet.data()) {
        m_sheet = nullptr;
        old->disconnect(this);
        old->hide();
        old->deleteLater();
    }
    m_newItemType = type;
    if (type) {
        auto* sheet = new NewCodeItemSheet(*m_model, *type, this);
        sheet->setWindowModality(Qt::WindowModal);
        m_sheet = sheet;
        connect(sheet, &QDialog::finished, this, [this, created = *type](int result) {
            setNewItemType(std::nullopt);
            takeKeyboardAfterNewItem(result == QDialog::Accepted && created == CodeItemType::file);
        });
        sheet->open();
    }
    emit newItemTypeChanged();
}

void CodeIDEView::takeKeyboardAfterNewItem(bool fileCreated)
{
    // The keyboard goes where the user goes on: into the new file when it opened in the editor,
    // else to the tree; never back to the toolbar button. The window is asked for the keyboard as
    // well, since nothing else may give it back once the sheet is gone.
    m_focusEditorFor.clear();
    const std::optional<QUrl>& file = m_model->selectedFile();
    if (fileCreated && file) {
        const QString documentID = QDir::cleanPath(file->toLocalFile());
        if (m_editor && m_editorDocumentID == documentID) {
            m_editor->setFocus(Qt::OtherFocusReason);
        } else {
            // Its editor is not shown yet: it takes the keyboard when it is.
            m_focusEditorFor = documentID;
            m_tree->setFocus(Qt::OtherFocusReason);
        }
    } else {
        m_tree->setFocus(Qt::OtherFocusReason);
    }
    window()->activateWindow();
}

void CodeIDEView::setDeleteCandidate(const std::optional<CodeFileItem>& item)
{
    if (item == m_deleteCandidate && (item.has_value() == !m_confirmation.isNull()))
        return;
    if (QDialog* old = m_confirmation.data()) {
        m_confirmation = nullptr;
        old->disconnect(this);
        old->hide();
        old->deleteLater();
    }
    m_deleteCandidate = item;
    if (item) {
        const QString title = QStringLiteral("Delete ") + (item->isDirectory ? QStringLiteral("Folder") : QStringLiteral("File"))
            + u'?';
        const QString message = QStringLiteral("Delete \u201c") + m_model->displayPath(item->url)
            + QStringLiteral("\u201d? This action cannot be undone.");
        QDialog* dialog = makeConfirmation(title, message, this);
        dialog->setWindowModality(Qt::WindowModal);
        m_confirmation = dialog;
        connect(dialog, &QDialog::finished, this, [this](int result) {
            const std::optional<CodeFileItem> candidate = m_deleteCandidate;
            if (result == QDialog::Accepted && candidate)
                m_model->deleteItem(*candidate);
            setDeleteCandidate(std::nullopt);
        });
        dialog->open();
    }
    emit deleteCandidateChanged();
}

void CodeIDEView::done()
{
    if (!m_model->saveNow() && !m_doneKeptOpen) {
        // The failure stays on screen; Done once more closes without the text.
        m_doneKeptOpen = true;
        return;
    }
    m_doneKeptOpen = false;
    if (m_onClose)
        m_onClose();
}

void CodeIDEView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_model->saveNow();
}

