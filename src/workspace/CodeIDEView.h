#pragma once

#include "app/AppConfig.h"
#include "workspace/CodeFileItem.h"
#include "workspace/CodeItemType.h"

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class CodeFileTree;
class CodeIDEModel;
class CodeTextEditor;
class ElidedLabel;
class NewCodeItemSheet;
class QDialog;
class QLabel;
class QPushButton;
class QShortcut;
class QSplitter;
class QStackedWidget;

// The code workspace of one project over the whole window: toolbar, file tree beside the editor,
// status bar. It owns the project's CodeIDEModel for as long as it exists; every control calls one
// model operation. Done (or Escape) saves and asks the host to close; leaving the screen, being
// destroyed and the application quitting save too.
class CodeIDEView : public QWidget {
    Q_OBJECT

public:
    CodeIDEView(const Project& project, std::function<void()> onClose, QWidget* parent = nullptr);
    ~CodeIDEView() override;

    CodeIDEModel& model() const { return *m_model; }

    const std::optional<CodeItemType>& newItemType() const { return m_newItemType; }
    void setNewItemType(const std::optional<CodeItemType>& type);
    const std::optional<CodeFileItem>& deleteCandidate() const { return m_deleteCandidate; }
    void setDeleteCandidate(const std::optional<CodeFileItem>& item);

    // Done: saves; closes unless that save failed (a second Done then closes).
    void done();

    // Parts, for tests and the host.
    QPushButton* newFileButton() const { return m_newFile; }
    QPushButton* newFolderButton() const { return m_newFolder; }
    QPushButton* refreshButton() const { return m_refresh; }
    QPushButton* deleteButton() const { return m_delete; }
    QPushButton* finderButton() const { return m_finder; }
    QPushButton* doneButton() const { return m_done; }
    QLabel* projectNameLabel() const { return m_projectName; }
    QLabel* sidebarTitle() const { return m_sidebarTitle; }
    ElidedLabel* sidebarLocation() const { return m_sidebarLocation; }
    CodeFileTree* fileTree() const { return m_tree; }
    QSplitter* splitter() const { return m_splitter; }
    QLabel* editorHeaderIcon() const { return m_headerIcon; }
    ElidedLabel* editorHeaderPath() const { return m_headerPath; }
    QLabel* autoSaveLabel() const { return m_autoSave; }
    // The panel shown: "Select a source file", "Preview unavailable", or the editor.
    QWidget* editorContent() const;
    QLabel* panelTitle() const { return m_panelTitle; }
    QLabel* panelDescription() const { return m_panelDescription; }
    QLabel* panelIcon() const { return m_panelIcon; }
    // The text editor while an editable file is open, else null.
    CodeTextEditor* editor() const;
    // The prompt shown while the open file changed on disk under unsaved edits: the choice of
    // keeping the text here (written over the file) or taking the file's text.
    QWidget* diskChangeBar() const { return m_diskBar; }
    ElidedLabel* diskChangeLabel() const { return m_diskLabel; }
    QPushButton* keepTextButton() const { return m_keepText; }
    QPushButton* takeFileButton() const { return m_takeFile; }
    QLabel* statusIcon() const { return m_statusIcon; }
    ElidedLabel* statusLabel() const { return m_status; }
    QLabel* extensionLabel() const { return m_extension; }
    NewCodeItemSheet* newItemSheet() const;
    QDialog* deleteConfirmation() const;

    // The symbol names shown, by the open file's name (empty: no file).
    static QString fileKindSymbol(const QString& fileName);
    static bool isFailure(const QString& statusMessage);

signals:
    void newItemTypeChanged();
    void deleteCandidateChanged();

protected:
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* buildToolbar();
    QWidget* buildSidebar();
    QWidget* buildEditorPane();
    QWidget* buildStatusBar();
    void updateToolbar();
    void updateSidebarHeader();
    void updateEditor();
    void updateStatusBar();
    void updateDiskChangeBar();
    void pushContentToEditor();
    void takeKeyboardAfterNewItem(bool fileCreated);
    void bindEditorContent();

    std::unique_ptr<CodeIDEModel> m_model;
    std::function<void()> m_onClose;
    std::optional<CodeItemType> m_newItemType;
    std::optional<CodeFileItem> m_deleteCandidate;
    // A Done whose save failed kept the workspace open; the next one closes it.
    bool m_doneKeptOpen = false;
    // The file just created: its editor takes the keyboard when it appears.
    QString m_focusEditorFor;

    QPushButton* m_newFile = nullptr;
    QPushButton* m_newFolder = nullptr;
    QPushButton* m_refresh = nullptr;
    QPushButton* m_delete = nullptr;
    QPushButton* m_finder = nullptr;
    QPushButton* m_done = nullptr;
    QShortcut* m_escape = nullptr;
    QLabel* m_projectName = nullptr;
    QLabel* m_sidebarTitle = nullptr;
    ElidedLabel* m_sidebarLocation = nullptr;
    CodeFileTree* m_tree = nullptr;
    QSplitter* m_splitter = nullptr;
    QLabel* m_headerIcon = nullptr;
    ElidedLabel* m_headerPath = nullptr;
    QLabel* m_autoSave = nullptr;
    QStackedWidget* m_content = nullptr;
    QWidget* m_panel = nullptr;
    QLabel* m_panelIcon = nullptr;
    QLabel* m_panelTitle = nullptr;
    QLabel* m_panelDescription = nullptr;
    QWidget* m_diskBar = nullptr;
    ElidedLabel* m_diskLabel = nullptr;
    QPushButton* m_keepText = nullptr;
    QPushButton* m_takeFile = nullptr;
    QPointer<CodeTextEditor> m_editor;
    bool m_applyingEdit = false;
    QString m_editorDocumentID;
    QLabel* m_statusIcon = nullptr;
    ElidedLabel* m_status = nullptr;
    QLabel* m_extension = nullptr;
    QPointer<NewCodeItemSheet> m_sheet;
    QPointer<QDialog> m_confirmation;
};
