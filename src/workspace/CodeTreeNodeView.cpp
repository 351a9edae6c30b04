#include "workspace/CodeTreeNodeView.h"

#include "app/Theme.h"
#include "workspace/CodeIDEModel.h"
#include "workspace/FileKindSymbol.h"

#include <QFileInfo>

#include <algorithm>

namespace {

QString extension(const CodeFileItem& item)
{
    return QFileInfo(item.path()).suffix().toLower();
}

} // namespace

CodeTreeNodeView::CodeTreeNodeView(CodeIDEModel& model, CodeFileItem item, int depth)
    : m_model(model)
    , m_item(std::move(item))
    , m_depth(depth)
{
}

void CodeTreeNodeView::tap()
{
    if (!m_item.isDirectory) {
        m_model.selectFile(m_item.url);
        return;
    }
    m_model.selectDirectory(m_item.url);
    setExpanded(!m_isExpanded);
}

void CodeTreeNodeView::setExpanded(bool expanded)
{
    if (!m_item.isDirectory)
        return;
    m_isExpanded = expanded;
    if (!m_isExpanded)
        return;
    m_children.clear();
    for (const CodeFileItem& child : m_model.items(m_item.url))
        m_children.push_back(std::make_unique<CodeTreeNodeView>(m_model, child, m_depth + 1));
}

CodeTreeNodeView* CodeTreeNodeView::child(const QString& path) const
{
    for (const auto& c : m_children) {
        if (c->item().path() == path)
            return c.get();
    }
    return nullptr;
}

size_t CodeTreeNodeView::insertChild(const CodeFileItem& item)
{
    const auto at = std::upper_bound(m_children.begin(), m_children.end(), item,
                                     [this](const CodeFileItem& a, const std::unique_ptr<CodeTreeNodeView>& b) {
                                         return m_model.listsBefore(a, b->item());
                                     });
    const size_t index = size_t(at - m_children.begin());
    m_children.insert(at, std::make_unique<CodeTreeNodeView>(m_model, item, m_depth + 1));
    return index;
}

bool CodeTreeNodeView::isSelected() const
{
    return m_item.url == m_model.selectedFile() || m_item.url == m_model.selectedDirectory();
}

QString CodeTreeNodeView::disclosureName() const
{
    if (!m_item.isDirectory)
        return QString();
    return m_isExpanded ? QStringLiteral("chevron.down") : QStringLiteral("chevron.right");
}

QString CodeTreeNodeView::iconName(const CodeFileItem& item, bool expanded)
{
    if (item.isDirectory)
        return expanded ? QStringLiteral("folder.fill") : QStringLiteral("folder");
    return FileKindSymbol::forFileName(item.path());
}

QColor CodeTreeNodeView::iconColor(const CodeFileItem& item)
{
    if (item.isDirectory)
        return Theme::accent();
    const QString ext = extension(item);
    if (ext == QLatin1String("php"))
        return QColor(175, 82, 222); // purple
    if (ext == QLatin1String("js") || ext == QLatin1String("ts"))
        return QColor(230, 180, 0); // yellow
    if (ext == QLatin1String("css") || ext == QLatin1String("scss"))
        return Theme::blue();
    if (ext == QLatin1String("html") || ext == QLatin1String("htm"))
        return QColor(255, 149, 0); // orange
    return Theme::secondary();
}

CodeTreeNodeView::Layout CodeTreeNodeView::layout(const QRect& row, int depth)
{
    const int left = row.left() + Theme::points(leadingPadding(depth));
    const int spacing = Theme::points(6);
    const int disclosureWidth = Theme::points(10);
    const int iconWidth = Theme::points(16);
    const int centre = row.center().y();
    Layout result;
    result.disclosure = QRect(left, centre - disclosureWidth / 2, disclosureWidth, disclosureWidth);
    const int iconLeft = left + disclosureWidth + spacing;
    result.icon = QRect(iconLeft, centre - iconWidth / 2, iconWidth, iconWidth);
    const int nameLeft = iconLeft + iconWidth + spacing;
    // Trailing padding 8 and at least 4 of flexible space.
    const int nameRight = row.right() - Theme::points(8) - Theme::points(4);
    result.name = QRect(nameLeft, row.top(), std::max(0, nameRight - nameLeft + 1), row.height());
    return result;
}
