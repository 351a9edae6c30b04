#include "app/ElidedLabel.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QHelpEvent>
#include <QPainter>
#include <QTextDocument>
#include <QTextLayout>
#include <QToolTip>

namespace {

struct Lines {
    QStringList lines;
    bool elided = false;
};

Lines layOut(const QString& source, const QFont& font, int width, int maxLines)
{
    Lines result;
    if (source.isEmpty() || width <= 0)
        return result;
    QString text = source;
    text.replace(QLatin1String("\r\n"), QString(QChar::LineSeparator));
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    text.replace(QLatin1Char('\r'), QChar::LineSeparator);

    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    const QFontMetrics metrics(font);
    layout.beginLayout();
    for (int i = 0; i < maxLines; ++i) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        const int start = line.textStart();
        const int length = line.textLength();
        const bool last = i == maxLines - 1;
        if (last && start + length < text.size()) {
            QString rest = text.mid(start);
            rest.replace(QChar::LineSeparator, QLatin1Char(' '));
            QString shown = metrics.elidedText(rest, Qt::ElideRight, width);
            if (shown == rest) {
                // The rest fits only because its line breaks were joined: mark the cut.
                QString piece = text.mid(start, length);
                while (!piece.isEmpty() && (piece.back() == QChar::LineSeparator || piece.back().isSpace()))
                    piece.chop(1);
                shown = piece + QChar(0x2026);
                while (metrics.horizontalAdvance(shown) > width && piece.size() > 0) {
                    piece.chop(1);
                    shown = piece + QChar(0x2026);
                }
            }
            result.lines << shown;
            result.elided = true;
            break;
        }
        QString piece = text.mid(start, length);
        while (!piece.isEmpty() && (piece.back() == QChar::LineSeparator || piece.back().isSpace()))
            piece.chop(1);
        result.lines << piece;
    }
    layout.endLayout();
    return result;
}

// Screen readers get the whole text as a static text, as they do for a plain label.
class ElidedLabelAccessible : public QAccessibleWidget {
public:
    explicit ElidedLabelAccessible(ElidedLabel* label)
        : QAccessibleWidget(label, QAccessible::StaticText)
    {
    }

    QAccessible::Role role() const override { return static_cast<const ElidedLabel*>(widget())->accessibleRole(); }

    QString text(QAccessible::Text t) const override
    {
        const auto* label = static_cast<const ElidedLabel*>(widget());
        if (t == QAccessible::Name) {
            const QString name = label->accessibleName();
            return name.isEmpty() ? label->text() : name;
        }
        if (t == QAccessible::Value)
            return label->text();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* accessibleFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("ElidedLabel") && object && object->isWidgetType())
        return new ElidedLabelAccessible(static_cast<ElidedLabel*>(object));
    return nullptr;
}

} // namespace

ElidedLabel::ElidedLabel(const QString& text, int maxLines, QWidget* parent)
    : QWidget(parent)
    , m_text(text)
    , m_maxLines(std::max(1, maxLines))
{
    static const bool accessible = [] {
        QAccessible::installFactory(accessibleFactory);
        return true;
    }();
    (void)accessible;
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(m_maxLines > 1);
    setSizePolicy(policy);
}

void ElidedLabel::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    m_cache = {};
    updateGeometry();
    update();
    if (QAccessible::isActive()) {
        QAccessibleEvent nameChanged(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&nameChanged);
    }
}

const ElidedLabel::Layout& ElidedLabel::layoutAt(int width) const
{
    // Layouts ask for the height at the same few widths again and again (the natural width and
    // the one given): the last two answers are kept.
    for (const std::optional<Layout>& kept : m_cache) {
        if (kept && kept->width == width)
            return *kept;
    }
    const Lines lines = layOut(m_text, font(), width, m_maxLines);
    m_cache[1] = std::move(m_cache[0]);
    m_cache[0] = Layout{width, lines.lines, lines.elided};
    return *m_cache[0];
}

QStringList ElidedLabel::displayedLines(int width) const
{
    return layoutAt(width < 0 ? contentsRect().width() : width).lines;
}

bool ElidedLabel::isElided(int width) const
{
    return layoutAt(width < 0 ? contentsRect().width() : width).elided;
}

QString ElidedLabel::toolTipText() const
{
    // Tooltips detect markup on their own: the text is escaped so it shows as it is.
    const QString whole = wholeText();
    return isElided() || whole != m_text ? Qt::convertFromPlainText(whole, Qt::WhiteSpaceNormal) : QString();
}

bool ElidedLabel::event(QEvent* event)
{
    // Worked out when asked, so resizing many labels costs no layout of their text.
    if (event->type() == QEvent::ToolTip && toolTip().isEmpty()) {
        const QString tip = toolTipText();
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), tip, this);
        return true;
    }
    return QWidget::event(event);
}

QSize ElidedLabel::sizeHint() const
{
    const QFontMetrics metrics(font());
    const int natural = metrics.horizontalAdvance(m_text) + 2;
    const int width = std::min(natural, metrics.averageCharWidth() * 80);
    return QSize(width, heightForWidth(width));
}

QSize ElidedLabel::minimumSizeHint() const
{
    const QFontMetrics metrics(font());
    return QSize(metrics.averageCharWidth() * 4, metrics.height());
}

int ElidedLabel::heightForWidth(int width) const
{
    const QFontMetrics metrics(font());
    const int lines = m_maxLines == 1 ? 1 : std::max<qsizetype>(1, layoutAt(width).lines.size());
    return lines * metrics.lineSpacing();
}

void ElidedLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.setFont(font());
    const QFontMetrics metrics(font());
    const QRect area = contentsRect();
    const QStringList lines = displayedLines(area.width());
    const int total = lines.size() * metrics.lineSpacing();
    int y = area.top() + std::max(0, (area.height() - total) / 2);
    for (const QString& line : lines) {
        painter.drawText(QRect(area.left(), y, area.width(), metrics.lineSpacing()),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, line);
        y += metrics.lineSpacing();
    }
}

void ElidedLabel::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange) {
        m_cache = {};
        updateGeometry();
    }
    QWidget::changeEvent(event);
}
