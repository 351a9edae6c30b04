#pragma once

#include "app/AppConfig.h"
#include "workspace/CodeFileItem.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

class QTimer;

// The model of one project's code workspace: the root folder, the tree listing, the selection,
// the text of the one open file and its autosave, and creating and deleting items. Every
// outcome is reported in `statusMessage`; nothing is raised to the caller. Main thread only; the
// file work is synchronous except reading and decoding a selected file, which runs on a
// background thread (the latest selection wins), and the autosave, 0.6 s after the last edit.
class CodeIDEModel : public QObject {
    Q_OBJECT

public:
    // Files larger than this are not opened.
    static constexpr qint64 maximumFileSize = 5242880;
    static constexpr int autosaveDelayMs = 600;

    explicit CodeIDEModel(const Project& project, QObject* parent = nullptr);
    ~CodeIDEModel() override;

    const Project& project() const { return m_project; }
    const QUrl& rootURL() const { return m_rootURL; }

    const QList<CodeFileItem>& rootItems() const { return m_rootItems; }
    const std::optional<QUrl>& selectedFile() const { return m_selectedFile; }
    const QUrl& selectedDirectory() const { return m_selectedDirectory; }
    const std::optional<CodeFileItem>& selectedTreeItem() const { return m_selectedTreeItem; }
    const QString& content() const;
    // The editor's text. Callers report an edit with contentChanged() afterwards. Ends a binding.
    void setContent(const QString& content);
    // While bound, `content` is the editor's own text, read through `source` while `owner` lives,
    // and an edit of it is reported with contentEdited(): typing never copies the whole text.
    void bindContent(QObject* owner, std::function<const QString&()> source);
    // Ends the binding to `owner`, if bound, keeping its text as `content`.
    void releaseContent(const QObject* owner);
    // The bound text changed (an edit in the editor).
    void contentEdited();
    const QString& statusMessage() const { return m_statusMessage; }
    bool isEditable() const { return m_isEditable; }
    qint64 treeRevision() const { return m_treeRevision; }

    void refreshTree();
    // The entries of `folder`: ".git" and symbolic links left out, folders first, then by the
    // locale's case-insensitive order; empty for a folder outside the root or unreadable.
    QList<CodeFileItem> items(const QUrl& folder) const;
    // The path relative to the root; the root's own name for the root.
    QString displayPath(const QUrl& url) const;
    void selectDirectory(const QUrl& url);
    // Checks the file on the main thread, then reads and decodes it on a background thread; the
    // result is applied on the main thread unless another file was selected meanwhile.
    void selectFile(const QUrl& url);
    // A file selected with selectFile() is still being read.
    bool isLoadingFile() const { return m_loadingFile; }
    // Writes the open file when its text differs from what was last loaded or saved. False only
    // when a write was needed and failed.
    bool saveNow();
    // An edit of `content`: schedules the autosave.
    void contentChanged();
    bool createItem(const QString& name, bool isDirectory);
    bool canDelete(const std::optional<CodeFileItem>& item) const;
    bool deleteItem(const CodeFileItem& item);

    // Whether an autosave is scheduled.
    bool isSavePending() const;

signals:
    void rootItemsChanged();
    void selectedFileChanged();
    void selectedDirectoryChanged();
    void selectedTreeItemChanged();
    // `content` changed (an edit, a load, or clearing).
    void contentTextChanged();
    void statusMessageChanged();
    void isEditableChanged();
    void treeRevisionChanged();

private:
    bool isInsideRoot(const QUrl& url) const;
    void setRootItems(const QList<CodeFileItem>& items);
    void setSelectedFile(const std::optional<QUrl>& url);
    void setSelectedDirectory(const QUrl& url);
    void setSelectedTreeItem(const std::optional<CodeFileItem>& item);
    void setStatusMessage(const QString& message);
    void setIsEditable(bool editable);
    void setTreeRevision(qint64 revision);
    void cancelAutosave();
    bool isContentBound() const;
    void unbindContent();
    // `known`: the text of a file the model has just written itself, which is not read again.
    void selectFile(const QUrl& url, const std::optional<QString>& known);
    void refuseFile(const QUrl& url, const QString& message);
    struct LoadedFile;
    void finishLoading(quint64 serial, const QUrl& url, const LoadedFile& loaded);

    Project m_project;
    QUrl m_rootURL;
    QList<CodeFileItem> m_rootItems;
    std::optional<QUrl> m_selectedFile;
    QUrl m_selectedDirectory;
    std::optional<CodeFileItem> m_selectedTreeItem;
    QString m_content;
    QString m_statusMessage = QStringLiteral("Select a file to start editing.");
    bool m_isEditable = false;
    qint64 m_treeRevision = 0;
    QTimer* m_saveWorkItem = nullptr;
    bool m_isLoadingContent = false;
    QString m_lastSavedContent;
    // A selection was stopped by a failed save of the text still open.
    bool m_selectionStoppedBySaveFailure = false;
    // The editor's text standing for m_content while bound.
    QPointer<QObject> m_contentOwner;
    std::function<const QString&()> m_contentSource;
    // Counts selections; a load result of an earlier one is dropped.
    quint64 m_selectionSerial = 0;
    bool m_loadingFile = false;
    QUrl m_loadingURL;
    // The open text was edited while another file was being read.
    bool m_editedWhileLoading = false;
};
