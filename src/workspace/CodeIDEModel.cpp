#include "workspace/CodeIDEModel.h"

#include "platform/Collation.h"
#include "platform/Dispatch.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"

#include <QDir>
#include <QFileInfo>
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

// Said on opening a file whose last save was interrupted after its copy was written.
QString leftSaveCopyNotice(const QString& path)
{
    const std::optional<QString> copy = FileSystem::leftSaveCopy(path);
    if (!copy)
        return QString();
    return QStringLiteral(" An interrupted save left a copy of its text in ") + *copy + u'.';
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
}

void CodeIDEModel::bindContent(QObject* owner, std::function<const QString&()> source)
{
    if (isContentBound() && m_contentOwner == owner)
        return;
    m_contentOwner = owner;
    m_contentSource = std::move(source);
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
    const CaseInsensitiveCollation collation;
    std::vector<Entry> kept;
    kept.reserve(entries->size());
    for (const FileSystem::DirectoryEntry& entry : *entries) {
        if (entry.isSymbolicLink || entry.name == QLatin1String(".git"))
            continue;
        kept.push_back({&entry, collation.sortKey(entry.name)});
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
    // The same text in a buffer of its own, for the last saved text: sharing the editor's text
    // would make the first keystroke copy all of it on the main thread.
    QString saved;
};

void CodeIDEModel::selectFile(const QUrl& url)
{
    selectFile(url, std::nullopt);
}

void CodeIDEModel::selectFile(const QUrl& url, const std::optional<QString>& known)
{
    if (!saveNow()) {
        // The unsaved text stays open with its failure; choosing a file once more gives it up.
        if (!m_selectionStoppedBySaveFailure) {
            m_selectionStoppedBySaveFailure = true;
            return;
        }
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
        finishLoading(serial, url, LoadedFile{false, known, {}});
        return;
    }
    m_loadingFile = true;
    m_loadingURL = url;
    QPointer<CodeIDEModel> guard(this);
    Dispatch::userInitiated([guard, serial, url, path]() {
        LoadedFile loaded;
        const FileSystem::ReadResult read = FileSystem::readRegularFile(path, maximumFileSize);
        loaded.tooLarge = read.outcome == FileSystem::ReadOutcome::tooLarge;
        if (read.outcome == FileSystem::ReadOutcome::ok && !read.bytes.contains('\0'))
            loaded.text = Text::decodeUtf8(read.bytes);
        if (loaded.text) {
            // Both made here, off the main thread: the editor's text with room to grow, so that
            // a keystroke inserts in place, and the last saved text in a buffer of its own, so
            // that the first keystroke does not copy the whole text away from it.
            const QString& decoded = *loaded.text;
            QString editable;
            editable.reserve(decoded.size() + decoded.size() / 32 + 16);
            editable.append(QStringView(decoded));
            loaded.saved = decoded;
            loaded.text = std::move(editable);
        }
        Dispatch::main<CodeIDEModel>(guard, [serial, url, loaded](CodeIDEModel* model) {
            model->finishLoading(serial, url, loaded);
        });
    });
}

void CodeIDEModel::refuseFile(const QUrl& url, const QString& message)
{
    setSelectedFile(url);
    setIsEditable(false);
    setContent(QString());
    setStatusMessage(message);
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
    m_lastSavedContent = loaded.saved.size() == text.size() ? loaded.saved : text;
    setIsEditable(true);
    setStatusMessage(displayPath(url) + QStringLiteral(" opened.") + leftSaveCopyNotice(url.toLocalFile()));
    m_isLoadingContent = false;
}

// ---- Saving -----------------------------------------------------------------------------------

void CodeIDEModel::cancelAutosave()
{
    if (m_saveWorkItem) {
        m_saveWorkItem->stop();
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
    const QString path = m_selectedFile->toLocalFile();
    const QString& current = content();
    // Text already on disk is not written again: a change made to the file meanwhile stays.
    if (current == m_lastSavedContent) {
        if (wasPending)
            setStatusMessage(QStringLiteral("Saved ") + displayPath(*m_selectedFile) + u'.');
        return true;
    }
    QString error;
    if (!FileSystem::saveFile(path, current.toUtf8(), &error)) {
        setStatusMessage(QStringLiteral("Could not save file: ") + error);
        return false;
    }
    // A copy of its own: sharing the editor's text would make its next keystroke copy all of it.
    m_lastSavedContent = isContentBound() ? QString(current.constData(), current.size()) : current;
    setStatusMessage(QStringLiteral("Saved ") + displayPath(*m_selectedFile) + u'.');
    return true;
}

void CodeIDEModel::contentChanged()
{
    if (m_isLoadingContent || !m_isEditable || !m_selectedFile || content() == m_lastSavedContent)
        return;
    cancelAutosave();
    m_saveWorkItem = new QTimer(this);
    m_saveWorkItem->setSingleShot(true);
    connect(m_saveWorkItem, &QTimer::timeout, this, [this]() { saveNow(); });
    m_saveWorkItem->start(autosaveDelayMs);
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
    refreshTree();
    setStatusMessage((isDirectory ? QStringLiteral("Folder ") : QStringLiteral("File ")) + trimmedName
                     + QStringLiteral(" created."));
    // The new file is empty: nothing to read.
    if (!isDirectory)
        selectFile(targetURL, QString());
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
            setSelectedFile(std::nullopt);
            setIsEditable(false);
            setContent(QString());
            m_lastSavedContent.clear();
        }
    }
    setSelectedDirectory(QUrl::fromLocalFile(parentPath(path)));
    setSelectedTreeItem(std::nullopt);
    refreshTree();
    setStatusMessage((item.isDirectory ? QStringLiteral("Folder") : QStringLiteral("File")) + u' ' + item.name()
                     + QStringLiteral(" deleted."));
    return true;
}
