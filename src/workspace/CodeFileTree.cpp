#include "workspace/CodeFileTree.h"

#include "app/SymbolIcons.h"
#include "app/Theme.h"
#include "workspace/CodeFileTreeAccessible.h"
#include "workspace/CodeIDEModel.h"

#include <QHash>
#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>

namespace {

// Paints one row: highlight, disclosure mark, icon and name.
class RowDelegate : public QStyledItemDelegate {
public:
    RowDelegate(CodeFileTreeRows& rows, QObject* parent)
        : QStyledItemDelegate(parent)
        , m_rows(rows)
    {
        m_font = Theme::font(Theme::TextStyle::body);
        m_font.setPixelSize(std::max(9, Theme::points(12.5)));
    }

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override
    {
        // The row and the list's one-point spacing.
        return QSize(Theme::points(200), Theme::points(CodeTreeNodeView::rowHeight) + Theme::points(1));
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const CodeTreeNodeView* node = m_rows.node(index.row());
        if (!node)
            return;
        QRect row = option.rect;
        row.setHeight(Theme::points(CodeTreeNodeView::rowHeight));
        painter->save();
        if (node->isSelected())
            painter->fillRect(row, Theme::withOpacity(Theme::accent(), 0.16));
        const CodeTreeNodeView::Layout layout = CodeTreeNodeView::layout(row, node->depth());
        if (node->item().isDirectory)
            painter->drawPixmap(layout.disclosure, symbol(node->disclosureName(), Theme::secondary(), layout.disclosure.size()));
        painter->drawPixmap(layout.icon, symbol(node->iconName(), node->iconColor(), layout.icon.size()));
        painter->setFont(m_font);
        painter->setPen(option.palette.color(QPalette::Text));
        const QString name = QFontMetrics(m_font).elidedText(node->item().name(), Qt::ElideRight, layout.name.width());
        painter->drawText(layout.name, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, name);
        // The keyboard's row, while the tree has the focus.
        if (option.state & QStyle::State_HasFocus) {
            painter->setRenderHint(QPainter::Antialiasing);
            painter->setPen(QPen(Theme::focusRing(), 2));
            painter->setBrush(Qt::NoBrush);
            painter->drawRoundedRect(QRectF(row).adjusted(1, 1, -1, -1), 4, 4);
        }
        painter->restore();
    }

private:
    QPixmap symbol(const QString& name, const QColor& color, const QSize& size) const
    {
        const QString key = name + u'|' + color.name(QColor::HexArgb) + u'|' + QString::number(size.width());
        auto it = m_cache.find(key);
        if (it == m_cache.end())
            it = m_cache.insert(key, SymbolIcons::drawn(name, color).pixmap(size));
        return *it;
    }

    CodeFileTreeRows& m_rows;
    QFont m_font;
    mutable QHash<QString, QPixmap> m_cache;
};

} // namespace

// ---- Rows -------------------------------------------------------------------------------------

CodeFileTreeRows::CodeFileTreeRows(CodeIDEModel& model, QObject* parent)
    : QAbstractListModel(parent)
    , m_model(model)
{
    rebuild();
    connect(&m_model, &CodeIDEModel::treeRevisionChanged, this, [this]() {
        beginResetModel();
        rebuild();
        endResetModel();
    });
    // The highlight follows the open file and the target folder.
    auto repaintAll = [this]() {
        if (!m_rows.empty())
            emit dataChanged(index(0), index(static_cast<int>(m_rows.size()) - 1));
    };
    connect(&m_model, &CodeIDEModel::selectedFileChanged, this, repaintAll);
    connect(&m_model, &CodeIDEModel::selectedDirectoryChanged, this, repaintAll);
    connect(&m_model, &CodeIDEModel::itemCreated, this, &CodeFileTreeRows::showCreated);
}

void CodeFileTreeRows::rebuild()
{
    m_roots.clear();
    m_rows.clear();
    m_roots.reserve(m_model.rootItems().size());
    m_rows.reserve(m_model.rootItems().size());
    for (const CodeFileItem& item : m_model.rootItems()) {
        m_roots.push_back(std::make_unique<CodeTreeNodeView>(m_model, item, 0));
        m_rows.push_back(m_roots.back().get());
    }
}

void CodeFileTreeRows::appendVisible(CodeTreeNodeView* node, std::vector<CodeTreeNodeView*>& out) const
{
    if (!node->isExpanded())
        return;
    for (const auto& child : node->children()) {
        out.push_back(child.get());
        appendVisible(child.get(), out);
    }
}

int CodeFileTreeRows::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

QVariant CodeFileTreeRows::data(const QModelIndex& index, int role) const
{
    const CodeTreeNodeView* n = node(index.row());
    if (!n || index.column() != 0)
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
    case Qt::ToolTipRole:
        return n->item().name();
    default:
        return {};
    }
}

CodeTreeNodeView* CodeFileTreeRows::node(int row) const
{
    if (row < 0 || row >= static_cast<int>(m_rows.size()))
        return nullptr;
    return m_rows[static_cast<size_t>(row)];
}

int CodeFileTreeRows::rowOf(const QString& path) const
{
    for (size_t i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i]->item().path() == path)
            return static_cast<int>(i);
    }
    return -1;
}

int CodeFileTreeRows::rowOfNode(const CodeTreeNodeView* node) const
{
    const auto it = std::find(m_rows.begin(), m_rows.end(), node);
    return it == m_rows.end() ? -1 : static_cast<int>(it - m_rows.begin());
}

void CodeFileTreeRows::insertVisibleRows(int row, CodeTreeNodeView* node)
{
    std::vector<CodeTreeNodeView*> shown;
    appendVisible(node, shown);
    if (shown.empty())
        return;
    beginInsertRows(QModelIndex(), row + 1, row + static_cast<int>(shown.size()));
    m_rows.insert(m_rows.begin() + row + 1, shown.begin(), shown.end());
    endInsertRows();
}

void CodeFileTreeRows::removeVisibleRows(int row, CodeTreeNodeView* node)
{
    std::vector<CodeTreeNodeView*> shown;
    appendVisible(node, shown);
    if (shown.empty())
        return;
    beginRemoveRows(QModelIndex(), row + 1, row + static_cast<int>(shown.size()));
    const auto first = m_rows.begin() + row + 1;
    m_rows.erase(first, first + static_cast<std::ptrdiff_t>(shown.size()));
    endRemoveRows();
}

void CodeFileTreeRows::tap(int row)
{
    CodeTreeNodeView* n = node(row);
    if (!n)
        return;
    if (!n->item().isDirectory) {
        n->tap();
        return;
    }
    // The tap reaches the model (which repaints the rows) before the rows change.
    if (n->isExpanded()) {
        removeVisibleRows(row, n);
        n->tap();
    } else {
        n->tap();
        insertVisibleRows(row, n);
    }
    const QModelIndex changed = index(row);
    emit dataChanged(changed, changed);
}

void CodeFileTreeRows::showCreated(const CodeFileItem& item)
{
    const QString root = m_model.rootURL().toLocalFile();
    const QString prefix = root.endsWith(u'/') ? root : root + u'/';
    const QString path = item.path();
    if (!path.startsWith(prefix))
        return;
    const QStringList folders = path.mid(prefix.size()).split(u'/');

    // The model has put a new entry of the root in its place among `rootItems`.
    if (folders.size() == 1) {
        const qsizetype at = m_model.rootItems().indexOf(item);
        if (at < 0 || at > static_cast<qsizetype>(m_roots.size()))
            return;
        const int row = at < static_cast<qsizetype>(m_roots.size()) ? rowOfNode(m_roots[size_t(at)].get())
                                                                     : static_cast<int>(m_rows.size());
        if (row < 0)
            return;
        m_roots.insert(m_roots.begin() + at, std::make_unique<CodeTreeNodeView>(m_model, item, 0));
        beginInsertRows(QModelIndex(), row, row);
        m_rows.insert(m_rows.begin() + row, m_roots[size_t(at)].get());
        endInsertRows();
        emit rowRevealed(row);
        return;
    }

    // Down the folders to the item's own, expanding those still collapsed.
    CodeTreeNodeView* folder = nullptr;
    QString folderPath = root;
    for (qsizetype i = 0; i + 1 < folders.size(); ++i) {
        folderPath = (i == 0 ? prefix : folderPath + u'/') + folders[i];
        CodeTreeNodeView* next = nullptr;
        if (!folder) {
            for (const auto& r : m_roots) {
                if (r->item().path() == folderPath)
                    next = r.get();
            }
        } else {
            next = folder->child(folderPath);
        }
        if (!next || !next->item().isDirectory)
            return;
        const int row = rowOfNode(next);
        if (row < 0)
            return;
        if (!next->isExpanded()) {
            // Listed now, with the new item in it.
            next->setExpanded(true);
            insertVisibleRows(row, next);
            emit dataChanged(index(row), index(row));
        }
        folder = next;
    }
    if (!folder->child(path)) {
        // The folder was listed before the item was made.
        const size_t at = folder->insertChild(item);
        int row = rowOfNode(folder) + 1;
        for (size_t i = 0; i < at; ++i) {
            std::vector<CodeTreeNodeView*> below;
            appendVisible(folder->children()[i].get(), below);
            row += 1 + static_cast<int>(below.size());
        }
        beginInsertRows(QModelIndex(), row, row);
        m_rows.insert(m_rows.begin() + row, folder->children()[at].get());
        endInsertRows();
    }
    const int row = rowOf(path);
    if (row >= 0)
        emit rowRevealed(row);
}

// ---- View -------------------------------------------------------------------------------------

CodeFileTree::CodeFileTree(CodeIDEModel& model, QWidget* parent)
    : QListView(parent)
    , m_rows(new CodeFileTreeRows(model, this))
{
    CodeFileTreeAccessible::install();
    setAccessibleName(QStringLiteral("Project files"));
    setModel(m_rows);
    setItemDelegate(new RowDelegate(*m_rows, this));
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setViewportMargins(0, Theme::points(6), 0, Theme::points(6));
    setMouseTracking(false);
    viewport()->setAutoFillBackground(false);
    connect(this, &QListView::clicked, this, [this](const QModelIndex& index) { m_rows->tap(index.row()); });
    connect(m_rows, &CodeFileTreeRows::rowRevealed, this, [this](int row) {
        const QModelIndex index = m_rows->index(row);
        setCurrentIndex(index);
        scrollTo(index);
    });
}

QRect CodeFileTree::rowRect(const QString& path) const
{
    const int row = m_rows->rowOf(path);
    if (row < 0)
        return {};
    QRect rect = visualRect(m_rows->index(row));
    rect.setHeight(Theme::points(CodeTreeNodeView::rowHeight));
    return rect;
}

void CodeFileTree::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        if (currentIndex().isValid()) {
            m_rows->tap(currentIndex().row());
            event->accept();
            return;
        }
        break;
    default:
        break;
    }
    QListView::keyPressEvent(event);
}
