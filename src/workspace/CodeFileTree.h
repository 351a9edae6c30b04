#pragma once

#include "workspace/CodeTreeNodeView.h"

#include <QAbstractListModel>
#include <QListView>
#include <memory>
#include <vector>

class CodeIDEModel;

// The rows of the file tree, flattened: each root entry of the model and, below an expanded
// folder, its children. Rebuilt, all collapsed, whenever the model's tree revision changes.
class CodeFileTreeRows : public QAbstractListModel {
    Q_OBJECT

public:
    explicit CodeFileTreeRows(CodeIDEModel& model, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    CodeTreeNodeView* node(int row) const;
    // The row showing the entry at `path`, or -1.
    int rowOf(const QString& path) const;
    // The row's tap: see CodeTreeNodeView::tap.
    void tap(int row);

signals:
    // A row the user is to see now (an item just created).
    void rowRevealed(int row);

private:
    void rebuild();
    void appendVisible(CodeTreeNodeView* node, std::vector<CodeTreeNodeView*>& out) const;
    int rowOfNode(const CodeTreeNodeView* node) const;
    // Shows the visible rows below the folder at `row` after it was expanded, or hides them before
    // it is collapsed.
    void insertVisibleRows(int row, CodeTreeNodeView* node);
    void removeVisibleRows(int row, CodeTreeNodeView* node);
    // An item created by the model, put in place: the folders on its way are expanded (those
    // open stay open) and its row is revealed.
    void showCreated(const CodeFileItem& item);

    CodeIDEModel& m_model;
    std::vector<std::unique_ptr<CodeTreeNodeView>> m_roots;
    std::vector<CodeTreeNodeView*> m_rows;
};

// The sidebar's list of tree rows: rows are painted only as they scroll into view. A click or
// Return on a row taps it.
class CodeFileTree : public QListView {
    Q_OBJECT

public:
    explicit CodeFileTree(CodeIDEModel& model, QWidget* parent = nullptr);

    CodeFileTreeRows& rows() const { return *m_rows; }
    // The rectangle of the row showing `path` in viewport coordinates; empty when not shown.
    QRect rowRect(const QString& path) const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    CodeFileTreeRows* m_rows;
};
