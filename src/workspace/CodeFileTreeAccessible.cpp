#include "workspace/CodeFileTreeAccessible.h"

#include "workspace/CodeFileTree.h"

#include <QAccessibleWidget>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QPointer>
#include <QScrollBar>
#include <QWindow>

#include <utility>

namespace {

class TreeAccessible;

// One row: it reads its entry live from the tree's rows, so it stays right while the row holds
// the same entry; the tree drops its rows' interfaces whenever rows come or go.
class RowAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    RowAccessible(CodeFileTree* tree, int row)
        : m_tree(tree)
        , m_rows(&tree->rows())
        , m_row(row)
    {
    }

    bool isValid() const override { return m_tree && node() != nullptr; }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override
    {
        return m_tree && m_tree->window() ? m_tree->window()->windowHandle() : nullptr;
    }

    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(m_tree); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QList<QPair<QAccessibleInterface*, QAccessible::Relation>> relations(QAccessible::Relation) const override
    {
        return {};
    }

    QAccessible::Role role() const override { return QAccessible::TreeItem; }

    QString text(QAccessible::Text t) const override
    {
        const CodeTreeNodeView* n = node();
        if (!n)
            return {};
        switch (t) {
        case QAccessible::Name:
            return n->item().name();
        case QAccessible::Description:
            return description(*n);
        default:
            return {};
        }
    }
    void setText(QAccessible::Text, const QString&) override {}

    QAccessible::State state() const override
    {
        QAccessible::State state;
        const CodeTreeNodeView* n = node();
        if (!n)
            return state;
        state.focusable = true;
        state.selectable = true;
        state.selected = n->isSelected();
        const bool current = m_tree->currentIndex().isValid() && m_tree->currentIndex().row() == m_row;
        state.focused = current && m_tree->hasFocus();
        if (n->item().isDirectory) {
            state.expandable = true;
            state.expanded = n->isExpanded();
            state.collapsed = !n->isExpanded();
        }
        const QRect shown = m_tree->visualRect(m_rows->index(m_row));
        if (!m_tree->isVisible() || !m_tree->viewport()->rect().intersects(shown))
            state.offscreen = true;
        if (!m_tree->isVisible())
            state.invisible = true;
        return state;
    }

    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect shown = m_tree->visualRect(m_rows->index(m_row));
        return QRect(m_tree->viewport()->mapToGlobal(shown.topLeft()), shown.size());
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface*>(this);
        return nullptr;
    }

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& action) override
    {
        if (action == pressAction() && isValid()) {
            m_tree->setCurrentIndex(m_rows->index(m_row));
            m_rows->tap(m_row);
        }
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    const CodeTreeNodeView* node() const { return m_tree && m_rows ? m_rows->node(m_row) : nullptr; }

    static QString description(const CodeTreeNodeView& n)
    {
        QStringList parts;
        if (n.item().isDirectory) {
            parts << QStringLiteral("folder") << (n.isExpanded() ? QStringLiteral("expanded") : QStringLiteral("collapsed"));
        } else {
            parts << QStringLiteral("file");
        }
        parts << QStringLiteral("level %1").arg(n.depth() + 1);
        if (n.depth() > 0)
            parts << QStringLiteral("in ") + QFileInfo(n.item().path()).dir().dirName();
        return parts.join(QStringLiteral(", "));
    }

    QPointer<CodeFileTree> m_tree;
    QPointer<CodeFileTreeRows> m_rows;
    int m_row;
};

// Keeps the tree's row interfaces in step with its rows.
class RowsWatcher : public QObject {
public:
    explicit RowsWatcher(TreeAccessible* tree);
};

class TreeAccessible : public QAccessibleWidget {
public:
    explicit TreeAccessible(CodeFileTree* tree)
        : QAccessibleWidget(tree, QAccessible::Tree)
        , m_watcher(new RowsWatcher(this))
    {
    }

    ~TreeAccessible() override
    {
        delete m_watcher;
        dropRows();
    }

    CodeFileTree* tree() const { return static_cast<CodeFileTree*>(widget()); }

    int childCount() const override { return tree()->rows().rowCount(); }

    QAccessibleInterface* child(int index) const override
    {
        if (index < 0 || index >= childCount())
            return nullptr;
        if (const QAccessible::Id id = m_rows.value(index))
            return QAccessible::accessibleInterface(id);
        auto* row = new RowAccessible(tree(), index);
        m_rows.insert(index, QAccessible::registerAccessibleInterface(row));
        return row;
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it) {
            if (QAccessible::accessibleInterface(it.value()) == child)
                return it.key();
        }
        return -1;
    }

    QAccessibleInterface* childAt(int x, int y) const override
    {
        const QModelIndex index = tree()->indexAt(tree()->viewport()->mapFromGlobal(QPoint(x, y)));
        return index.isValid() ? child(index.row()) : nullptr;
    }

    QAccessibleInterface* focusChild() const override
    {
        const QModelIndex current = tree()->currentIndex();
        if (tree()->hasFocus() && current.isValid())
            return child(current.row());
        return nullptr;
    }

    void dropRows()
    {
        const QHash<int, QAccessible::Id> rows = std::exchange(m_rows, {});
        for (const QAccessible::Id id : rows)
            QAccessible::deleteAccessibleInterface(id);
    }

private:
    RowsWatcher* m_watcher;
    mutable QHash<int, QAccessible::Id> m_rows;
};

RowsWatcher::RowsWatcher(TreeAccessible* tree)
{
    QAbstractItemModel* rows = &tree->tree()->rows();
    auto drop = [tree]() { tree->dropRows(); };
    connect(rows, &QAbstractItemModel::modelReset, this, drop);
    connect(rows, &QAbstractItemModel::rowsInserted, this, drop);
    connect(rows, &QAbstractItemModel::rowsRemoved, this, drop);
    connect(rows, &QAbstractItemModel::layoutChanged, this, drop);
    // A row that changes (a folder expanded or collapsed) tells it.
    connect(rows, &QAbstractItemModel::dataChanged, this, [tree](const QModelIndex& first, const QModelIndex& last) {
        if (!QAccessible::isActive() || first.row() != last.row())
            return;
        const CodeTreeNodeView* node = tree->tree()->rows().node(first.row());
        if (!node || !node->item().isDirectory)
            return;
        if (QAccessibleInterface* row = tree->child(first.row())) {
            QAccessible::State changed;
            changed.expanded = true;
            changed.collapsed = true;
            QAccessibleStateChangeEvent event(row, changed);
            QAccessible::updateAccessibility(&event);
        }
    });
}

QAccessibleInterface* accessibleFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("CodeFileTree") && object && object->isWidgetType())
        return new TreeAccessible(static_cast<CodeFileTree*>(object));
    return nullptr;
}

} // namespace

namespace CodeFileTreeAccessible {

void install()
{
    static const bool installed = [] {
        QAccessible::installFactory(accessibleFactory);
        return true;
    }();
    (void)installed;
}

} // namespace CodeFileTreeAccessible
