#pragma once

#include "app/AppConfig.h"
#include "platform/Collation.h"
#include "platform/FileSystem.h"
#include "workspace/CodeFileItem.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QFileSystemWatcher;
class QTimer;

// The model of one project's code workspace: the root folder, the tree listing, the selection,
// the text of the one open file and its autosave, and creating and deleting items. Every
// outcome is reported in `statusMessage`; nothing is raised to the caller. Main thread only; the
// file work is synchronous except reading and decoding a selected file, which runs on a
// background thread (the latest selection wins), and the autosave, 0.6 s after the last edit.
//
// The open file is watched: a change made on disk by another program is taken in while the text
// here has no unsaved edit; with unsaved edits nothing is written (the file's identity, size and
// modification time are checked before every write) until the user keeps their text or takes the
// file's, theirs then being kept in the folder of save copies.
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
    // `length`, when given, tells its length without reading it.
    void bindContent(QObject* owner, std::function<const QString&()> source, std::function<qsizetype()> length = {});
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
    // Saves for the last time before the workspace closes: a text that cannot be written because
    // the file changed or went on disk is kept in the folder of save copies.
    void saveBeforeClosing();

    // The open file changed on disk while the text here had unsaved edits; nothing is written.
    bool hasDiskConflict() const { return m_diskConflict.has_value(); }
    // Writes the text here over the file's.
    void keepEditorText();
    // Keeps the text here in the folder of save copies, then takes the file's text.
    void takeDiskText();

    // Creates the item in the selected folder; the tree shows it in place (itemCreated).
    bool createItem(const QString& name, bool isDirectory);
    bool canDelete(const std::optional<CodeFileItem>& item) const;
    bool deleteItem(const CodeFileItem& item);
    // Shows the root folder in the desktop's file manager; when nothing shows it, the status
    // says why.
    void revealInFileManager();

    // Whether an autosave is scheduled.
    bool isSavePending() const;

    // What waits out the autosave's delay: starts a wait of `ms` milliseconds that calls `fire`
    // once, and returns an object whose deletion cancels it. A single-shot QTimer unless set;
    // tests set their own to move time by hand.
    using DelayTimer = std::function<QObject*(int ms, std::function<void()> fire)>;
    void setAutosaveTimer(DelayTimer timer) { m_autosaveTimer = std::move(timer); }

    // The listing order: folders first, then by the locale's case-insensitive order of names.
    bool listsBefore(const CodeFileItem& a, const CodeFileItem& b) const;

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
    void diskConflictChanged();
    // An item was created; when it lies in the root, `rootItems` lists it already.
    void itemCreated(const CodeFileItem& item);

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
    // Reads the file to open, off the main thread, with what interrupted saves left of it.
    static LoadedFile load(const QString& path);
    void finishLoading(quint64 serial, const QUrl& url, const LoadedFile& loaded);
    bool isDirty() const;
    // Writes the open file; `force` also when its text is the one last loaded or saved.
    bool writeOpenFile(bool force);
    // The open file's text, taken as loaded from disk with `stamp`.
    void takeLoadedText(QString text, QString saved, const FileSystem::FileStamp& stamp);
    void watchOpenFile(bool rearm);
    // The watcher saw the file or its folder change.
    void noticeDiskChange();
    struct DiskRead;
    static DiskRead readDisk(const QString& path);
    void finishDiskCheck(quint64 serial, DiskRead read);
    // Decides what a look at the open file on disk means: nothing, a reload, a conflict, a deletion.
    void applyDiskRead(DiskRead read);
    void clearDiskConflict();
    QString diskConflictMessage() const;
    // Keeps a dirty text that cannot be written because of a change on disk in the folder of save
    // copies, and lets it go; the copy's path.
    std::optional<QString> setAsideBlockedText();
    void forgetDiskState();

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
    QObject* m_saveWorkItem = nullptr;
    DelayTimer m_autosaveTimer;
    // Counts scheduled autosaves; only the latest one's wait saves.
    quint64 m_autosaveSerial = 0;
    bool m_isLoadingContent = false;
    QString m_lastSavedContent;
    // A selection was stopped by a failed save of the text still open.
    bool m_selectionStoppedBySaveFailure = false;
    // The editor's text standing for m_content while bound.
    QPointer<QObject> m_contentOwner;
    std::function<const QString&()> m_contentSource;
    std::function<qsizetype()> m_contentLength;
    // Counts selections; a load result of an earlier one is dropped.
    quint64 m_selectionSerial = 0;
    bool m_loadingFile = false;
    QUrl m_loadingURL;
    // The open text was edited while another file was being read.
    bool m_editedWhileLoading = false;

    // The open file as last loaded or written here.
    std::optional<FileSystem::FileStamp> m_diskStamp;
    // The file on disk differs from the unsaved text here: its stamp and text (none when it
    // cannot be edited, `refusal` saying why).
    struct DiskConflict {
        FileSystem::FileStamp stamp;
        std::optional<QString> text;
        QString saved;
        QString refusal;
    };
    std::optional<DiskConflict> m_diskConflict;
    // The open file is gone from disk (or is no regular file any more).
    bool m_diskDeleted = false;
    // A look at the file on disk off the main thread; a later one supersedes it.
    quint64 m_diskCheckSerial = 0;
    bool m_diskCheckRunning = false;
    bool m_diskCheckAgain = false;
    QFileSystemWatcher* m_watcher = nullptr;
    // Copies of an interrupted save whose text is open; removed once a save of the file is synced.
    QStringList m_repairCopies;
    // The file on disk does not hold `m_lastSavedContent` (torn, or written over by the user's
    // choice): the next save writes whatever the text.
    bool m_mustWrite = false;
    // A clean-up of stale temporary files after a save is running.
    std::shared_ptr<std::atomic_bool> m_cleaningUp = std::make_shared<std::atomic_bool>(false);
    // Said after the next file's own message (a text set aside on the way).
    QString m_pendingNotice;
    CaseInsensitiveCollation m_collation;
};
