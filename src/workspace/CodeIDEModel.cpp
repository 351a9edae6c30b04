#include "workspace/CodeIDEModel.h"

#include "platform/Collation.h"
#include "platform/Dispatch.h"
#include "platform/FileManagerReveal.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

#include <algorithm>

namespace {

QString standardized(const QString& path)
{
    return QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path));
}

QString lastComponent(const QString& path)
{
    return QFileInfo(path).fileName();
}

QString parentPath(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash <= 0)
        return QStringLiteral("/");
    return path.left(slash);
}

QString joined(const QString& folder, const QString& name)
{
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

// The decoded text of a file as the editor takes it, with room to grow, so that a keystroke inserts
// in place, and the same text in a buffer of its own for the last saved text, so that the first
// keystroke does not copy the whole text away from it. Made off the main thread.
void makeEditable(const QString& decoded, QString* text, QString* saved)
{
    QString editable;
    editable.reserve(decoded.size() + decoded.size() / 32 + 16);
    editable.append(QStringView(decoded));
    *saved = decoded;
    *text = std::move(editable);
}

std::optional<QString> decodedText(const FileSystem::ReadResult& read)
{
    if (read.outcome != FileSystem::ReadOutcome::ok || read.bytes.contains('\0'))
        return std::nullopt;
    return Text::decodeUtf8(read.bytes);
}

// The name a text set aside takes in the folder of save copies.
QString setAsideName(const QString& fileName)
{
    const QFileInfo info(fileName);
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH.mm.ss"));
    const QString base = info.completeBaseName().isEmpty() ? fileName : info.completeBaseName();
    const QString extension = info.completeBaseName().isEmpty() || info.suffix().isEmpty() ? QString() : u'.' + info.suffix();
    return base + QStringLiteral(" (unsaved ") + stamp + u')' + extension;
}

} // namespace

CodeIDEModel::CodeIDEModel(const Project& project, QObject* parent)
    : QObject(parent)
    , m_project(project)
{
    QString root = standardized(project.root);
    // A Laravel project opens at its project folder, not at its document root.
    if (lastComponent(root) == QLatin1String("public")) {
        const QString folder = parentPath(root);
        if (QFileInfo::exists(joined(folder, QStringLiteral("artisan"))))
            root = folder;
    }
    m_rootURL = QUrl::fromLocalFile(root);
    m_selectedDirectory = m_rootURL;
    refreshTree();
}

CodeIDEModel::~CodeIDEModel() = default;

// ---- Published state --------------------------------------------------------------------------

void CodeIDEModel::setRootItems(const QList<CodeFileItem>& items)
{
    if (items == m_rootItems)
        return;
    m_rootItems = items;
    emit rootItemsChanged();
}

void CodeIDEModel::setSelectedFile(const std::optional<QUrl>& url)
{
    if (url == m_selectedFile)
        return;
    m_selectedFile = url;
    emit selectedFileChanged();
}

void CodeIDEModel::setSelectedDirectory(const QUrl& url)
{
    if (url == m_selectedDirectory)
        return;
    m_selectedDirectory = url;
    emit selectedDirectoryChanged();
}

void CodeIDEModel::setSelectedTreeItem(const std::optional<CodeFileItem>& item)
{
    if (item == m_selectedTreeItem)
        return;
    m_selectedTreeItem = item;
    emit selectedTreeItemChanged();
}

const QString& CodeIDEModel::content() const
{
    return isContentBound() ? m_contentSource() : m_content;
}

void CodeIDEModel::setContent(const QString& content)
{
    const bool changed = content != this->content();
    unbindContent();
    m_content = content;
    if (!changed)
        return;
    // An edit after a stopped selection is new work: the next stop applies again.
    if (!m_isLoadingContent) {
        m_selectionStoppedBySaveFailure = false;
        m_editedWhileLoading = m_editedWhileLoading || m_loadingFile;
    }
    emit contentTextChanged();
}

bool CodeIDEModel::isContentBound() const
{
    return m_contentOwner && m_contentSource;
}

void CodeIDEModel::unbindContent()
{
    m_contentOwner = nullptr;
    m_contentSource = nullptr;
    m_contentLength = nullptr;
}

void CodeIDEModel::bindContent(QObject* owner, std::function<const QString&()> source,
                               std::function<qsizetype()> length)
{
    if (isContentBound() && m_contentOwner == owner)
        return;
    m_contentOwner = owner;
    m_contentSource = std::move(source);
    m_contentLength = std::move(length);
    // The owner holds the same text; a second copy would only take memory.
    if (isContentBound())
        m_content = QString();
}

void CodeIDEModel::releaseContent(const QObject* owner)
{
    if (!isContentBound() || m_contentOwner != owner)
        return;
    m_content = m_contentSource();
    unbindContent();
}

void CodeIDEModel::contentEdited()
{
    if (!isContentBound())
        return;
    if (!m_isLoadingContent) {
        m_selectionStoppedBySaveFailure = false;
        m_editedWhileLoading = m_editedWhileLoading || m_loadingFile;
    }
    emit contentTextChanged();
}

void CodeIDEModel::setStatusMessage(const QString& message)
{
    if (message == m_statusMessage)
        return;
    m_statusMessage = message;
    emit statusMessageChanged();
}

void CodeIDEModel::setIsEditable(bool editable)
{
    if (editable == m_isEditable)
        return;
    m_isEditable = editable;
    emit isEditableChanged();
}

void CodeIDEModel::setTreeRevision(qint64 revision)
{
    if (revision == m_treeRevision)
        return;
    m_treeRevision = revision;
    emit treeRevisionChanged();
}

// ---- Tree -------------------------------------------------------------------------------------

bool CodeIDEModel::isInsideRoot(const QUrl& url) const
{
    if (!url.isLocalFile())
        return false;
    const QString root = FileSystem::resolvedPath(m_rootURL.toLocalFile());
    const QString path = FileSystem::resolvedPath(standardized(url.toLocalFile()));
    if (path == root)
        return true;
    return path.startsWith(root.endsWith(u'/') ? root : root + u'/');
}

QList<CodeFileItem> CodeIDEModel::items(const QUrl& folder) const
{
    if (!isInsideRoot(folder))
        return {};
    const QString folderPath = folder.toLocalFile();
    const auto entries = FileSystem::listDirectory(folderPath);
    if (!entries)
        return {};

    struct Entry {
        const FileSystem::DirectoryEntry* entry;
        QByteArray key;
    };
    std::vector<Entry> kept;
    kept.reserve(entries->size());
    for (const FileSystem::DirectoryEntry& entry : *entries) {
        // Links, ".git", and the temporary files and copies of saves.
        if (entry.isSymbolicLink || entry.name == QLatin1String(".git") || FileSystem::isSideFileName(entry.name))
            continue;
        kept.push_back({&entry, m_collation.sortKey(entry.name)});
    }
    std::stable_sort(kept.begin(), kept.end(), [](const Entry& a, const Entry& b) {
        if (a.entry->isDirectory != b.entry->isDirectory)
            return a.entry->isDirectory;
        return a.key < b.key;
    });

    QList<CodeFileItem> result;
    result.reserve(static_cast<qsizetype>(kept.size()));
    for (const Entry& e : kept)
        result.append({QUrl::fromLocalFile(joined(folderPath, e.entry->name)), e.entry->isDirectory});
    return result;
}

bool CodeIDEModel::listsBefore(const CodeFileItem& a, const CodeFileItem& b) const
{
    if (a.isDirectory != b.isDirectory)
        return a.isDirectory;
    return m_collation.compare(a.name(), b.name()) < 0;
}

QString CodeIDEModel::displayPath(const QUrl& url) const
{
    const QString root = m_rootURL.toLocalFile();
    const QString path = url.toLocalFile();
    if (path == root)
        return lastComponent(root);
    const QString prefix = root.endsWith(u'/') ? root : root + u'/';
    // The root's own path may occur again further down; only the leading one is removed.
    if (path.startsWith(prefix))
        return path.mid(prefix.size());
    return path;
}

void CodeIDEModel::refreshTree()
{
    setRootItems(items(m_rootURL));
    setTreeRevision(m_treeRevision + 1);
    setStatusMessage(QStringLiteral("Project tree refreshed."));
}

// ---- Selection --------------------------------------------------------------------------------

void CodeIDEModel::selectDirectory(const QUrl& url)
{
    if (!isInsideRoot(url))
        return;
    setSelectedDirectory(url);
    setSelectedTreeItem(CodeFileItem{url, true});
    setStatusMessage(QStringLiteral("New items will be created in ") + displayPath(url) + u'.');
}

struct CodeIDEModel::LoadedFile {
    bool tooLarge = false;
    // None: unreadable, binary or not UTF-8.
    std::optional<QString> text;
    // The file's own text in a buffer of its own, for the last saved text (see makeEditable).
    QString saved;
    FileSystem::FileStamp stamp;
    // `text` is that of the copy an interrupted in-place save left, newer than the file.
    QString recoveredFrom;
    QStringList repairCopies;
    // Said of a copy older than the file.
    QString copyNotice;
};

struct CodeIDEModel::DiskRead {
    // None: no regular file there.
    std::optional<FileSystem::FileStamp> stamp;
    bool tooLarge = false;
    std::optional<QString> text;
    QString saved;
};

void CodeIDEModel::selectFile(const QUrl& url)
{
    selectFile(url, std::nullopt);
}

void CodeIDEModel::selectFile(const QUrl& url, const std::optional<QString>& known)
{
    if (!saveNow()) {
        // The unsaved text stays open with its failure; choosing a file once more gives it up,
        // keeping it aside when a change on disk is what stopped it.
        if (!m_selectionStoppedBySaveFailure) {
            m_selectionStoppedBySaveFailure = true;
            return;
        }
        const QString from = m_selectedFile ? displayPath(*m_selectedFile) : QString();
        if (const std::optional<QString> copy = setAsideBlockedText())
            m_pendingNotice = QStringLiteral(" Your text of ") + from + QStringLiteral(" was kept in ") + *copy + u'.';
    }
    m_selectionStoppedBySaveFailure = false;
    // This selection wins over any file still being read.
    const quint64 serial = ++m_selectionSerial;
    m_loadingFile = false;
    m_editedWhileLoading = false;

    if (!isInsideRoot(url)) {
        setStatusMessage(QStringLiteral("This file is outside the project folder."));
        return;
    }
    setSelectedTreeItem(CodeFileItem{url, false});

    const QString path = url.toLocalFile();
    const std::optional<qint64> size = FileSystem::fileSize(path);
    if (!size) {
        setStatusMessage(QStringLiteral("Could not read file information."));
        return;
    }
    if (*size > maximumFileSize) {
        refuseFile(url, QStringLiteral("File is larger than 5 MB and was not opened."));
        return;
    }

    if (known) {
        LoadedFile loaded;
        loaded.text = known;
        loaded.saved = *known;
        loaded.stamp = FileSystem::stampOf(path).value_or(FileSystem::FileStamp());
        finishLoading(serial, url, loaded);
        return;
    }
    m_loadingFile = true;
    m_loadingURL = url;
    QPointer<CodeIDEModel> guard(this);
    Dispatch::userInitiated([guard, serial, url, path]() {
        const LoadedFile loaded = load(path);
        Dispatch::main<CodeIDEModel>(guard, [serial, url, loaded](CodeIDEModel* model) {
            model->finishLoading(serial, url, loaded);
        });
    });
}

CodeIDEModel::LoadedFile CodeIDEModel::load(const QString& path)
{
    LoadedFile loaded;
    // What interrupted saves of this file left behind while writing their temporary files.
    FileSystem::removeStaleTemporaries(path);
    const FileSystem::ReadResult read = FileSystem::readRegularFile(path, maximumFileSize);
    loaded.tooLarge = read.outcome == FileSystem::ReadOutcome::tooLarge;
    loaded.stamp = read.stamp;
    const std::optional<QString> decoded = decodedText(read);
    if (decoded) {
        QString text;
        makeEditable(*decoded, &text, &loaded.saved);
        loaded.text = std::move(text);
    }
    if (read.outcome != FileSystem::ReadOutcome::ok)
        return loaded;

    const QList<FileSystem::LeftCopy> copies = FileSystem::leftSaveCopies(path);
    if (copies.isEmpty())
        return loaded;
    const auto newest = std::max_element(copies.cbegin(), copies.cend(),
                                         [](const auto& a, const auto& b) { return a.modified < b.modified; });
    // A copy not older than the file holds the text an in-place save was writing when it was
    // interrupted: the file is torn, or still has the text before.
    if (newest->modified >= read.stamp.modified) {
        const std::optional<QString> copyText = decodedText(FileSystem::readRegularFile(newest->path, maximumFileSize));
        if (copyText) {
            QStringList paths;
            for (const FileSystem::LeftCopy& copy : copies)
                paths.append(copy.path);
            if (decoded && *decoded == *copyText) {
                // The save had written the whole file: its copies have nothing more to give.
                for (const QString& copy : paths)
                    FileSystem::removeTree(copy, nullptr);
                return loaded;
            }
            QString text;
            QString unused;
            makeEditable(*copyText, &text, &unused);
            loaded.text = std::move(text);
            loaded.recoveredFrom = newest->path;
            loaded.repairCopies = paths;
            return loaded;
        }
    }
    loaded.copyNotice = QStringLiteral(" An interrupted save left a copy of its text in ") + copies.first().path + u'.';
    return loaded;
}

void CodeIDEModel::refuseFile(const QUrl& url, const QString& message)
{
    forgetDiskState();
    setSelectedFile(url);
    setIsEditable(false);
    setContent(QString());
    watchOpenFile(false);
    setStatusMessage(message + std::exchange(m_pendingNotice, QString()));
}

void CodeIDEModel::finishLoading(quint64 serial, const QUrl& url, const LoadedFile& loaded)
{
    if (serial != m_selectionSerial)
        return;
    m_loadingFile = false;
    // Edits made to the open file while this one was read are written first; a failed write
    // keeps that text open, as at the start of a selection.
    if (m_editedWhileLoading && !saveNow()) {
        m_selectionStoppedBySaveFailure = true;
        return;
    }
    if (loaded.tooLarge) {
        refuseFile(url, QStringLiteral("File is larger than 5 MB and was not opened."));
        return;
    }
    if (!loaded.text) {
        refuseFile(url, QStringLiteral("Binary or non-UTF-8 files cannot be edited."));
        return;
    }

    forgetDiskState();
    const QString& text = *loaded.text;
    m_isLoadingContent = true;
    // The text is in place before the selection changes, so that a view building its editor for
    // the new file takes it at once; observers of `content` hear of it in its turn below.
    const bool changed = text != content();
    unbindContent();
    m_content = text;
    setSelectedFile(url);
    setSelectedDirectory(QUrl::fromLocalFile(parentPath(url.toLocalFile())));
    setSelectedTreeItem(CodeFileItem{url, false});
    if (changed)
        emit contentTextChanged();
    m_lastSavedContent = loaded.saved;
    m_diskStamp = loaded.stamp;
    m_repairCopies = loaded.repairCopies;
    m_mustWrite = !loaded.recoveredFrom.isEmpty();
    setIsEditable(true);
    watchOpenFile(true);
    const QString notice = std::exchange(m_pendingNotice, QString());
    if (!loaded.recoveredFrom.isEmpty())
        setStatusMessage(displayPath(url) + QStringLiteral(" opened with the text an interrupted save was writing, from ")
                         + loaded.recoveredFrom + QStringLiteral("; the next save repairs the file.") + notice);
    else
        setStatusMessage(displayPath(url) + QStringLiteral(" opened.") + loaded.copyNotice + notice);
    m_isLoadingContent = false;
}

// ---- Changes on disk --------------------------------------------------------------------------

bool CodeIDEModel::isDirty() const
{
    if (m_mustWrite)
        return true;
    // Most edits change the length: told without gathering the editor's text.
    if (isContentBound() && m_contentLength && m_contentLength() != m_lastSavedContent.size())
        return true;
    return content() != m_lastSavedContent;
}

void CodeIDEModel::forgetDiskState()
{
    m_diskStamp.reset();
    clearDiskConflict();
    m_diskDeleted = false;
    ++m_diskCheckSerial;
    m_diskCheckRunning = false;
    m_diskCheckAgain = false;
    m_repairCopies.clear();
    m_mustWrite = false;
}

void CodeIDEModel::clearDiskConflict()
{
    if (!m_diskConflict)
        return;
    m_diskConflict.reset();
    emit diskConflictChanged();
}

QString CodeIDEModel::diskConflictMessage() const
{
    return displayPath(*m_selectedFile)
        + QStringLiteral(" changed on disk while it had unsaved edits: choose Keep My Text or Take File's Text.");
}

void CodeIDEModel::watchOpenFile(bool rearm)
{
    QString file;
    QString folder;
    if (m_isEditable && m_selectedFile) {
        file = m_selectedFile->toLocalFile();
        folder = parentPath(file);
    }
    if (!m_watcher) {
        if (file.isEmpty())
            return;
        m_watcher = new QFileSystemWatcher(this);
        connect(m_watcher, &QFileSystemWatcher::fileChanged, this, &CodeIDEModel::noticeDiskChange);
        // The folder tells of a file put in the file's place, or of the file coming back.
        connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &CodeIDEModel::noticeDiskChange);
    }
    // `rearm`: the file at the path may be another one now (a save renames a new file over it).
    for (const QString& watched : m_watcher->files()) {
        if (watched != file || rearm)
            m_watcher->removePath(watched);
    }
    for (const QString& watched : m_watcher->directories()) {
        if (watched != folder)
            m_watcher->removePath(watched);
    }
    if (file.isEmpty())
        return;
    if (!m_watcher->files().contains(file) && FileSystem::entryExists(file))
        m_watcher->addPath(file);
    if (!m_watcher->directories().contains(folder) && FileSystem::entryExists(folder))
        m_watcher->addPath(folder);
}

void CodeIDEModel::noticeDiskChange()
{
    if (!m_isEditable || !m_selectedFile || m_loadingFile)
        return;
    // A file replaced by renaming another over it is a new file: the watcher lost the old one.
    watchOpenFile(false);
    if (m_diskCheckRunning) {
        m_diskCheckAgain = true;
        return;
    }
    const QString path = m_selectedFile->toLocalFile();
    const std::optional<FileSystem::FileStamp> now = FileSystem::stampOf(path);
    if (!now) {
        if (!m_diskDeleted)
            applyDiskRead(DiskRead());
        return;
    }
    const std::optional<FileSystem::FileStamp> known = m_diskConflict ? std::optional(m_diskConflict->stamp) : m_diskStamp;
    if (now == known && !m_diskDeleted)
        return;
    m_diskCheckRunning = true;
    const quint64 serial = ++m_diskCheckSerial;
    QPointer<CodeIDEModel> guard(this);
    Dispatch::userInitiated([guard, serial, path]() {
        DiskRead read = readDisk(path);
        // Handed on, not copied: the editor takes a text no one else holds without copying it.
        Dispatch::main<CodeIDEModel>(guard, [serial, read = std::move(read)](CodeIDEModel* model) mutable {
            model->finishDiskCheck(serial, std::move(read));
        });
    });
}

CodeIDEModel::DiskRead CodeIDEModel::readDisk(const QString& path)
{
    DiskRead result;
    const FileSystem::ReadResult read = FileSystem::readRegularFile(path, maximumFileSize);
    if (read.outcome == FileSystem::ReadOutcome::failed) {
        result.stamp = FileSystem::stampOf(path);
        return result;
    }
    result.stamp = read.stamp;
    result.tooLarge = read.outcome == FileSystem::ReadOutcome::tooLarge;
    if (const std::optional<QString> decoded = decodedText(read)) {
        QString text;
        makeEditable(*decoded, &text, &result.saved);
        result.text = std::move(text);
    }
    return result;
}

void CodeIDEModel::finishDiskCheck(quint64 serial, DiskRead read)
{
    if (serial != m_diskCheckSerial)
        return;
    m_diskCheckRunning = false;
    if (!m_isEditable || !m_selectedFile)
        return;
    // Changed again while it was read: looked at afresh.
    if (FileSystem::stampOf(m_selectedFile->toLocalFile()) != read.stamp) {
        m_diskCheckAgain = false;
        noticeDiskChange();
        return;
    }
    applyDiskRead(std::move(read));
    if (std::exchange(m_diskCheckAgain, false))
        noticeDiskChange();
}

void CodeIDEModel::applyDiskRead(DiskRead read)
{
    const QString shown = displayPath(*m_selectedFile);
    if (!read.stamp) {
        // Gone, or no regular file any more: a save reports it, and nothing is created again.
        clearDiskConflict();
        if (!m_diskDeleted) {
            m_diskDeleted = true;
            setStatusMessage(shown + QStringLiteral(" was deleted on disk."));
        }
        return;
    }
    m_diskDeleted = false;
    if (read.text && *read.text == m_lastSavedContent && !m_mustWrite) {
        // The text on disk is still the one last loaded or saved here (touched, or written back).
        m_diskStamp = *read.stamp;
        if (m_diskConflict) {
            clearDiskConflict();
            contentChanged();
        }
        return;
    }
    cancelAutosave();
    if (!isDirty()) {
        if (read.tooLarge)
            refuseFile(*m_selectedFile, QStringLiteral("File is larger than 5 MB and was not opened."));
        else if (!read.text)
            refuseFile(*m_selectedFile, QStringLiteral("Binary or non-UTF-8 files cannot be edited."));
        else {
            takeLoadedText(std::move(*read.text), std::move(read.saved), *read.stamp);
            setStatusMessage(shown + QStringLiteral(" changed on disk and was reloaded."));
        }
        return;
    }
    // Unsaved edits here: the other program's text is not written over, nor is the text here lost.
    const bool was = m_diskConflict.has_value();
    m_diskConflict = DiskConflict{*read.stamp, std::move(read.text), std::move(read.saved),
                                  read.tooLarge ? QStringLiteral("File is larger than 5 MB and was not opened.")
                                                : QStringLiteral("Binary or non-UTF-8 files cannot be edited.")};
    if (!was)
        emit diskConflictChanged();
    setStatusMessage(diskConflictMessage());
}

void CodeIDEModel::takeLoadedText(QString text, QString saved, const FileSystem::FileStamp& stamp)
{
    m_isLoadingContent = true;
    const bool changed = text != content();
    unbindContent();
    m_content = std::move(text);
    m_lastSavedContent = std::move(saved);
    m_diskStamp = stamp;
    m_diskDeleted = false;
    m_mustWrite = false;
    m_repairCopies.clear();
    clearDiskConflict();
    if (changed)
        emit contentTextChanged();
    m_isLoadingContent = false;
}

void CodeIDEModel::keepEditorText()
{
    if (!m_diskConflict)
        return;
    const DiskConflict conflict = *m_diskConflict;
    clearDiskConflict();
    // The text on disk is the one to write over: the save compares with it.
    m_diskStamp = conflict.stamp;
    m_lastSavedContent = conflict.text ? conflict.saved : QString();
    m_mustWrite = !conflict.text;
    saveNow();
}

void CodeIDEModel::takeDiskText()
{
    if (!m_diskConflict || !m_selectedFile)
        return;
    QString error;
    const std::optional<QString> copy = FileSystem::writeNewFile(
        FileSystem::saveCopyFolder(), setAsideName(lastComponent(m_selectedFile->toLocalFile())), content().toUtf8(), &error);
    if (!copy) {
        setStatusMessage(QStringLiteral("Could not keep a copy of your text: ") + error);
        return;
    }
    DiskConflict conflict = std::move(*m_diskConflict);
    clearDiskConflict();
    const QString kept = QStringLiteral(" Your text was kept in ") + *copy + u'.';
    cancelAutosave();
    if (!conflict.text) {
        refuseFile(*m_selectedFile, conflict.refusal + kept);
        return;
    }
    takeLoadedText(std::move(*conflict.text), std::move(conflict.saved), conflict.stamp);
    setStatusMessage(displayPath(*m_selectedFile) + QStringLiteral(" now has the text of the file on disk.") + kept);
}

std::optional<QString> CodeIDEModel::setAsideBlockedText()
{
    if (!m_isEditable || !m_selectedFile || (!m_diskConflict && !m_diskDeleted) || !isDirty())
        return std::nullopt;
    QString error;
    const QString& text = content();
    const std::optional<QString> copy = FileSystem::writeNewFile(
        FileSystem::saveCopyFolder(), setAsideName(lastComponent(m_selectedFile->toLocalFile())), text.toUtf8(), &error);
    if (!copy)
        return std::nullopt;
    // The text is safe: nothing is left to write.
    cancelAutosave();
    clearDiskConflict();
    m_lastSavedContent = QString(text.constData(), text.size());
    m_mustWrite = false;
    return copy;
}

void CodeIDEModel::saveBeforeClosing()
{
    if (saveNow())
        return;
    if (const std::optional<QString> copy = setAsideBlockedText())
        setStatusMessage(displayPath(*m_selectedFile) + QStringLiteral(" could not be saved. Your text was kept in ") + *copy + u'.');
}

// ---- Saving -----------------------------------------------------------------------------------

void CodeIDEModel::cancelAutosave()
{
    if (m_saveWorkItem) {
        if (auto* timer = qobject_cast<QTimer*>(m_saveWorkItem))
            timer->stop();
        m_saveWorkItem->deleteLater();
        m_saveWorkItem = nullptr;
    }
}

bool CodeIDEModel::isSavePending() const
{
    return m_saveWorkItem != nullptr;
}

bool CodeIDEModel::saveNow()
{
    const bool wasPending = isSavePending();
    cancelAutosave();
    if (!m_isEditable || !m_selectedFile || !isInsideRoot(*m_selectedFile))
        return true;
    if (m_diskConflict) {
        setStatusMessage(diskConflictMessage());
        return false;
    }
    const QString path = m_selectedFile->toLocalFile();
    // Text already on disk is not written again: a change made to the file meanwhile stays.
    if (!isDirty()) {
        if (wasPending)
            setStatusMessage(QStringLiteral("Saved ") + displayPath(*m_selectedFile) + u'.');
        return true;
    }
    // A change made on disk since the file was loaded or saved here is not written over. The
    // save checks again as it writes.
    const std::optional<FileSystem::FileStamp> onDisk = FileSystem::stampOf(path);
    if (onDisk && m_diskStamp && *onDisk != *m_diskStamp) {
        applyDiskRead(readDisk(path));
        if (m_diskConflict)
            return false;
    }
    const QByteArray bytes = content().toUtf8();
    QString error;
    FileSystem::SaveCheck check;
    check.expected = m_diskStamp;
    bool saved = FileSystem::saveExistingFile(path, bytes, &error, &check);
    if (!saved && check.changedOnDisk) {
        // Changed between the look and the write.
        applyDiskRead(readDisk(path));
        if (m_diskConflict)
            return false;
        check = FileSystem::SaveCheck();
        check.expected = m_diskStamp;
        saved = FileSystem::saveExistingFile(path, bytes, &error, &check);
    }
    if (!saved) {
        if (!FileSystem::stampOf(path))
            m_diskDeleted = true;
        setStatusMessage(QStringLiteral("Could not save file: ") + error);
        return false;
    }
    m_diskStamp = check.written;
    m_diskDeleted = false;
    m_mustWrite = false;
    // A look at the file begun before this save has nothing to tell.
    ++m_diskCheckSerial;
    m_diskCheckRunning = false;
    m_diskCheckAgain = false;
    watchOpenFile(true);
    const QString& current = content();
    // A copy of its own: sharing the editor's text would make its next keystroke copy all of it.
    m_lastSavedContent = isContentBound() ? QString(current.constData(), current.size()) : current;
    // The copies of an interrupted save go once the file holds a whole text, synced.
    for (const QString& copy : std::exchange(m_repairCopies, QStringList()))
        FileSystem::removeTree(copy, nullptr);
    // Temporary files that other, interrupted saves of the file left behind go too, off the main
    // thread.
    if (!m_cleaningUp->exchange(true)) {
        Dispatch::utility([path, busy = m_cleaningUp]() {
            FileSystem::removeStaleTemporaries(path);
            busy->store(false);
        });
    }
    setStatusMessage(QStringLiteral("Saved ") + displayPath(*m_selectedFile) + u'.');
    return true;
}

void CodeIDEModel::contentChanged()
{
    // While the file on disk differs, nothing is saved until the user chooses.
    if (m_isLoadingContent || !m_isEditable || !m_selectedFile || m_diskConflict || !isDirty())
        return;
    cancelAutosave();
    const quint64 serial = ++m_autosaveSerial;
    QPointer<CodeIDEModel> weak(this);
    auto fire = [weak, serial]() {
        // Only the latest wait saves, and only while it is not cancelled.
        CodeIDEModel* model = weak.data();
        if (model && model->m_saveWorkItem && model->m_autosaveSerial == serial)
            model->saveNow();
    };
    if (m_autosaveTimer) {
        m_saveWorkItem = m_autosaveTimer(autosaveDelayMs, std::move(fire));
    } else {
        auto* timer = new QTimer;
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, timer, std::move(fire));
        timer->start(autosaveDelayMs);
        m_saveWorkItem = timer;
    }
    if (m_saveWorkItem)
        m_saveWorkItem->setParent(this);
    setStatusMessage(QStringLiteral("Saving..."));
}

// ---- Creating and deleting --------------------------------------------------------------------

bool CodeIDEModel::createItem(const QString& name, bool isDirectory)
{
    const QString trimmedName = Text::trimmed(name);
    if (trimmedName.isEmpty() || trimmedName == QLatin1String(".") || trimmedName == QLatin1String("..")
        || trimmedName.contains(u'/') || trimmedName.contains(u':') || trimmedName.contains(QChar(u'\0'))) {
        setStatusMessage(QStringLiteral("Use a valid name without / or : characters."));
        return false;
    }
    const QString target = joined(m_selectedDirectory.toLocalFile(), trimmedName);
    const QUrl targetURL = QUrl::fromLocalFile(target);
    if (!isInsideRoot(targetURL) || FileSystem::entryExists(target)) {
        setStatusMessage(QStringLiteral("An item with this name already exists."));
        return false;
    }
    QString error;
    const bool created = isDirectory ? FileSystem::createDirectory(target, &error)
                                     : FileSystem::createEmptyFile(target, &error);
    if (!created) {
        setStatusMessage(QStringLiteral("Could not create item: ") + error);
        return false;
    }
    // Put in place, without listing any folder again: the tree keeps the folders that are open.
    const CodeFileItem item{targetURL, isDirectory};
    if (parentPath(target) == m_rootURL.toLocalFile()) {
        const auto at = std::upper_bound(m_rootItems.cbegin(), m_rootItems.cend(), item,
                                         [this](const CodeFileItem& a, const CodeFileItem& b) { return listsBefore(a, b); });
        m_rootItems.insert(at - m_rootItems.cbegin(), item);
        emit rootItemsChanged();
    }
    emit itemCreated(item);
    setStatusMessage((isDirectory ? QStringLiteral("Folder ") : QStringLiteral("File ")) + trimmedName
                     + QStringLiteral(" created."));
    // The new file is empty: nothing to read.
    if (!isDirectory)
        selectFile(targetURL, QString());
    else
        setSelectedTreeItem(item);
    return true;
}

bool CodeIDEModel::canDelete(const std::optional<CodeFileItem>& item) const
{
    if (!item)
        return false;
    if (standardized(item->url.toLocalFile()) == standardized(m_rootURL.toLocalFile()))
        return false;
    return isInsideRoot(item->url);
}

bool CodeIDEModel::deleteItem(const CodeFileItem& item)
{
    if (!canDelete(item)) {
        setStatusMessage(QStringLiteral("Select a file or folder inside the project to delete."));
        return false;
    }
    const QString path = item.url.toLocalFile();
    QString error;
    if (!FileSystem::removeTree(path, &error)) {
        setStatusMessage(QStringLiteral("Could not delete item: ") + error);
        return false;
    }
    if (m_loadingFile) {
        // A file being read went with the item: its text is not opened.
        const QString loading = m_loadingURL.toLocalFile();
        if (loading == path || loading.startsWith(path + u'/')) {
            ++m_selectionSerial;
            m_loadingFile = false;
        }
    }
    if (m_selectedFile) {
        const QString open = m_selectedFile->toLocalFile();
        if (open == path || open.startsWith(path + u'/')) {
            // The open file went with the item; its pending text has nowhere to go.
            cancelAutosave();
            forgetDiskState();
            setSelectedFile(std::nullopt);
            setIsEditable(false);
            setContent(QString());
            m_lastSavedContent.clear();
            watchOpenFile(false);
        }
    }
    setSelectedDirectory(QUrl::fromLocalFile(parentPath(path)));
    setSelectedTreeItem(std::nullopt);
    refreshTree();
    setStatusMessage((item.isDirectory ? QStringLiteral("Folder") : QStringLiteral("File")) + u' ' + item.name()
                     + QStringLiteral(" deleted."));
    return true;
}

void CodeIDEModel::revealInFileManager()
{
    const QString root = m_rootURL.toLocalFile();
    QPointer<CodeIDEModel> model(this);
    FileManagerReveal::reveal(root, [model, root](const QString& reason) {
        if (model)
            model->setStatusMessage(QStringLiteral("Could not show %1 in a file manager: %2.").arg(root, reason));
    });
}
