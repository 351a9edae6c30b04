#include "app/SymbolIcons.h"

#include "app/DrawnIconEngine.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

#include <cmath>
#include <functional>
#include <map>

namespace {

using Drawing = DrawnIconEngine::Drawing;

struct Symbol {
    QStringList themeNames;
    Drawing draw;
};

// ---- Drawings on a 24-unit square, 1.8-unit round-capped outline ------------------------------

QPainterPath folderOutline()
{
    QPainterPath path;
    path.moveTo(3, 7);
    path.lineTo(3, 18.5);
    path.quadTo(3, 20, 4.5, 20);
    path.lineTo(19.5, 20);
    path.quadTo(21, 20, 21, 18.5);
    path.lineTo(21, 9.5);
    path.quadTo(21, 8, 19.5, 8);
    path.lineTo(11.5, 8);
    path.lineTo(9.5, 5.5);
    path.lineTo(4.5, 5.5);
    path.quadTo(3, 5.5, 3, 7);
    path.closeSubpath();
    return path;
}

QPainterPath documentOutline()
{
    QPainterPath doc;
    doc.moveTo(5, 3);
    doc.lineTo(14, 3);
    doc.lineTo(19, 8);
    doc.lineTo(19, 21);
    doc.lineTo(5, 21);
    doc.closeSubpath();
    return doc;
}

// A small filled disc with a white glyph drawn by `glyph`, at the lower right.
void badge(QPainter& p, const QColor& color, const std::function<void(QPainter&)>& glyph)
{
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawEllipse(QPointF(17.5, 17.5), 5.5, 5.5);
    QPen white(QColor(Qt::white), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(white);
    p.setBrush(Qt::NoBrush);
    glyph(p);
    p.restore();
}

void plusGlyph(QPainter& p)
{
    p.drawLine(QPointF(17.5, 14.8), QPointF(17.5, 20.2));
    p.drawLine(QPointF(14.8, 17.5), QPointF(20.2, 17.5));
}

// The outline of the sheet's symbols: a fourteenth of the square, square caps, round joins.
QPen sheetPen(const QColor& color)
{
    QPen pen(color, 24.0 / 14.0);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

void eye(QPainter& p)
{
    QPainterPath outline;
    outline.moveTo(2.5, 12);
    outline.quadTo(12, 2, 21.5, 12);
    outline.quadTo(12, 22, 2.5, 12);
    p.drawPath(outline);
    p.drawEllipse(QPointF(12, 12), 3.2, 3.2);
}

const std::map<QString, Symbol>& table()
{
    static const std::map<QString, Symbol> symbols = {
        // The sidebar, the password field and the workspace.
        {QStringLiteral("square.grid.2x2"), {{QStringLiteral("view-grid-symbolic"), QStringLiteral("view-app-grid-symbolic")},
                                              [](QPainter& p, const QColor&) {
             for (const QPointF origin : {QPointF(3.5, 3.5), QPointF(13.5, 3.5), QPointF(3.5, 13.5), QPointF(13.5, 13.5)})
                 p.drawRoundedRect(QRectF(origin, QSizeF(7, 7)), 2, 2);
         }}},
        {QStringLiteral("folder"), {{QStringLiteral("folder-symbolic")}, [](QPainter& p, const QColor&) {
             p.drawPath(folderOutline());
             p.drawLine(QPointF(3, 11), QPointF(21, 11));
         }}},
        {QStringLiteral("gearshape"), {{QStringLiteral("emblem-system-symbolic"), QStringLiteral("preferences-system-symbolic")},
                                        [](QPainter& p, const QColor&) {
             QPainterPath gear;
             const QPointF c(12, 12);
             const int teeth = 8;
             for (int i = 0; i < teeth * 4; ++i) {
                 const qreal angle = (i / qreal(teeth * 4)) * 2 * M_PI;
                 const qreal radius = (i % 4 == 0 || i % 4 == 1) ? 9.2 : 7.0;
                 const QPointF point(c.x() + radius * std::cos(angle), c.y() + radius * std::sin(angle));
                 if (i == 0)
                     gear.moveTo(point);
                 else
                     gear.lineTo(point);
             }
             gear.closeSubpath();
             p.drawPath(gear);
             p.drawEllipse(c, 3.0, 3.0);
         }}},
        {QStringLiteral("book"), {{QStringLiteral("accessories-dictionary-symbolic"), QStringLiteral("help-contents-symbolic")},
                                   [](QPainter& p, const QColor&) {
             QPainterPath left;
             left.moveTo(12, 6.5);
             left.quadTo(8, 4, 3, 4.5);
             left.lineTo(3, 18.5);
             left.quadTo(8, 18, 12, 20);
             QPainterPath right;
             right.moveTo(12, 6.5);
             right.quadTo(16, 4, 21, 4.5);
             right.lineTo(21, 18.5);
             right.quadTo(16, 18, 12, 20);
             p.drawPath(left);
             p.drawPath(right);
             p.drawLine(QPointF(12, 6.5), QPointF(12, 20));
         }}},
        {QStringLiteral("eye"), {{QStringLiteral("view-reveal-symbolic"), QStringLiteral("view-visible-symbolic")},
                                  [](QPainter& p, const QColor&) { eye(p); }}},
        {QStringLiteral("eye.slash"), {{QStringLiteral("view-conceal-symbolic"), QStringLiteral("view-hidden-symbolic")},
                                        [](QPainter& p, const QColor&) {
             eye(p);
             p.drawLine(QPointF(4, 3.5), QPointF(20, 20.5));
         }}},
        {QStringLiteral("trash"), {{QStringLiteral("user-trash-symbolic"), QStringLiteral("edit-delete-symbolic")},
                                    [](QPainter& p, const QColor&) {
             p.drawLine(QPointF(4, 6.5), QPointF(20, 6.5));
             p.drawRect(QRectF(9.5, 3.5, 5, 3));
             QPainterPath can;
             can.moveTo(6, 6.5);
             can.lineTo(7, 20);
             can.lineTo(17, 20);
             can.lineTo(18, 6.5);
             p.drawPath(can);
             p.drawLine(QPointF(10, 10), QPointF(10, 17));
             p.drawLine(QPointF(14, 10), QPointF(14, 17));
         }}},
        {QStringLiteral("doc.text"), {{QStringLiteral("text-x-generic-symbolic")}, [](QPainter& p, const QColor&) {
             p.drawPath(documentOutline());
             p.drawLine(QPointF(8, 12), QPointF(16, 12));
             p.drawLine(QPointF(8, 15.5), QPointF(16, 15.5));
         }}},

        // The create-website sheet: drawn with a thinner square-capped outline.
        {QStringLiteral("globe"), {{}, [](QPainter& p, const QColor& c) {
             p.setPen(sheetPen(c));
             p.drawEllipse(QRectF(2.4, 2.4, 19.2, 19.2));
             p.drawEllipse(QRectF(7.2, 2.4, 9.6, 19.2));
             p.drawLine(QPointF(12, 2.4), QPointF(12, 21.6));
             p.drawLine(QPointF(2.4, 12), QPointF(21.6, 12));
             p.drawLine(QPointF(4.32, 7.2), QPointF(19.68, 7.2));
             p.drawLine(QPointF(4.32, 16.8), QPointF(19.68, 16.8));
         }}},
        {QStringLiteral("shippingbox"), {{}, [](QPainter& p, const QColor& c) {
             p.setPen(sheetPen(c));
             const QPointF top(12, 2.4), left(2.88, 7.2), right(21.12, 7.2), middle(12, 12), bottom(12, 22.08),
                 leftBottom(2.88, 17.28), rightBottom(21.12, 17.28);
             p.drawPolygon(QPolygonF({top, right, rightBottom, bottom, leftBottom, left}));
             p.drawPolyline(QPolygonF({left, middle, right}));
             p.drawLine(middle, bottom);
             p.drawLine(QPointF(7.44, 4.8), QPointF(16.56, 9.6));
         }}},
        {QStringLiteral("exclamationmark.triangle.fill"), {{}, [](QPainter& p, const QColor& c) {
             p.setPen(sheetPen(c));
             p.setBrush(c);
             p.drawPolygon(QPolygonF({QPointF(12, 1.92), QPointF(22.8, 21.6), QPointF(1.2, 21.6)}));
             p.setPen(QPen(QColor(Qt::white), 24.0 / 9.0, Qt::SolidLine, Qt::RoundCap));
             p.drawLine(QPointF(12, 8.4), QPointF(12, 14.88));
             p.drawPoint(QPointF(12, 18.24));
         }}},

        // The code workspace only.

        {QStringLiteral("folder.fill"), {{QStringLiteral("folder-open-symbolic")}, [](QPainter& p, const QColor& c) {
             p.setBrush(c);
             p.drawPath(folderOutline());
         }}},
        {QStringLiteral("doc.badge.plus"), {{QStringLiteral("document-new-symbolic")}, [](QPainter& p, const QColor& c) {
             p.drawPath(documentOutline());
             badge(p, c, plusGlyph);
         }}},
        {QStringLiteral("folder.badge.plus"), {{QStringLiteral("folder-new-symbolic")}, [](QPainter& p, const QColor& c) {
             p.drawPath(folderOutline());
             badge(p, c, plusGlyph);
         }}},
        {QStringLiteral("doc.badge.ellipsis"), {{}, [](QPainter& p, const QColor& c) {
             p.drawPath(documentOutline());
             badge(p, c, [](QPainter& q) {
                 q.setPen(Qt::NoPen);
                 q.setBrush(QColor(Qt::white));
                 for (qreal x : {15.0, 17.5, 20.0})
                     q.drawEllipse(QPointF(x, 17.5), 0.9, 0.9);
             });
         }}},
        {QStringLiteral("doc.richtext"), {{QStringLiteral("x-office-document-symbolic")}, [](QPainter& p, const QColor&) {
             p.drawPath(documentOutline());
             p.drawRect(QRectF(8, 8, 4, 4));
             p.drawLine(QPointF(8, 15), QPointF(16, 15));
             p.drawLine(QPointF(8, 18), QPointF(14, 18));
         }}},
        {QStringLiteral("arrow.clockwise"), {{QStringLiteral("view-refresh-symbolic")}, [](QPainter& p, const QColor&) {
             QPainterPath arc;
             arc.arcMoveTo(QRectF(4.5, 4.5, 15, 15), 60);
             arc.arcTo(QRectF(4.5, 4.5, 15, 15), 60, 300);
             p.drawPath(arc);
             const QPointF tip = arc.pointAtPercent(1.0);
             p.drawLine(tip, tip + QPointF(-4.5, -0.6));
             p.drawLine(tip, tip + QPointF(-0.2, 4.5));
         }}},
        {QStringLiteral("chevron.right"), {{QStringLiteral("pan-end-symbolic")}, [](QPainter& p, const QColor&) {
             p.drawPolyline(QPolygonF({QPointF(9, 5), QPointF(16, 12), QPointF(9, 19)}));
         }}},
        {QStringLiteral("chevron.down"), {{QStringLiteral("pan-down-symbolic")}, [](QPainter& p, const QColor&) {
             p.drawPolyline(QPolygonF({QPointF(5, 9), QPointF(12, 16), QPointF(19, 9)}));
         }}},
        {QStringLiteral("chevron.left.forwardslash.chevron.right"), {{}, [](QPainter& p, const QColor&) {
             p.drawPolyline(QPolygonF({QPointF(8, 6.5), QPointF(2.5, 12), QPointF(8, 17.5)}));
             p.drawPolyline(QPolygonF({QPointF(16, 6.5), QPointF(21.5, 12), QPointF(16, 17.5)}));
             p.drawLine(QPointF(14, 4.5), QPointF(10, 19.5));
         }}},
        {QStringLiteral("curlybraces"), {{}, [](QPainter& p, const QColor&) {
             for (const qreal side : {-1.0, 1.0}) {
                 const qreal x = 12 + side * 4; // the brace's spine
                 const qreal ends = x - side * 3; // the hooks point inward
                 const qreal tip = x + side * 2.5; // the middle points outward
                 QPainterPath brace;
                 brace.moveTo(ends, 3.5);
                 brace.quadTo(x, 3.5, x, 7);
                 brace.lineTo(x, 10);
                 brace.quadTo(x, 12, tip, 12);
                 brace.quadTo(x, 12, x, 14);
                 brace.lineTo(x, 17);
                 brace.quadTo(x, 20.5, ends, 20.5);
                 p.drawPath(brace);
             }
         }}},
        {QStringLiteral("paintbrush"), {{}, [](QPainter& p, const QColor& c) {
             p.drawLine(QPointF(20, 4), QPointF(11.5, 12.5));
             QPainterPath tip;
             tip.moveTo(11.5, 12.5);
             tip.quadTo(7, 12, 6.5, 16);
             tip.quadTo(6, 19.5, 3.5, 20.5);
             tip.quadTo(9.5, 21.5, 11.5, 18);
             tip.quadTo(13, 15.5, 11.5, 12.5);
             p.setBrush(c);
             p.drawPath(tip);
         }}},
        {QStringLiteral("photo"), {{QStringLiteral("image-x-generic-symbolic")}, [](QPainter& p, const QColor&) {
             p.drawRoundedRect(QRectF(3, 5, 18, 14), 2, 2);
             p.drawEllipse(QPointF(8.5, 9.5), 1.6, 1.6);
             p.drawPolyline(QPolygonF({QPointF(3.5, 17.5), QPointF(9.5, 12.5), QPointF(13, 15.5), QPointF(16, 13), QPointF(20.5, 17)}));
         }}},
        {QStringLiteral("exclamationmark.triangle"), {{QStringLiteral("dialog-warning-symbolic")}, [](QPainter& p, const QColor& c) {
             QPainterPath triangle;
             triangle.moveTo(12, 3.5);
             triangle.lineTo(21.5, 20);
             triangle.lineTo(2.5, 20);
             triangle.closeSubpath();
             p.drawPath(triangle);
             p.drawLine(QPointF(12, 9.5), QPointF(12, 14));
             p.setPen(Qt::NoPen);
             p.setBrush(c);
             p.drawEllipse(QPointF(12, 17), 1.1, 1.1);
         }}},
        {QStringLiteral("checkmark.circle"), {{QStringLiteral("emblem-ok-symbolic")}, [](QPainter& p, const QColor&) {
             p.drawEllipse(QPointF(12, 12), 9, 9);
             p.drawPolyline(QPolygonF({QPointF(7.5, 12.5), QPointF(10.5, 15.5), QPointF(16.5, 9)}));
         }}},
    };
    return symbols;
}

QColor windowText() { return QApplication::palette().color(QPalette::WindowText); }

} // namespace

namespace SymbolIcons {

QIcon drawn(const QString& name, const QColor& color)
{
    const auto it = table().find(name);
    if (it == table().end())
        return QIcon();
    return QIcon(new DrawnIconEngine(it->second.draw, color, windowText));
}

QIcon icon(const QString& name, const QColor& color)
{
    // A themed icon is used only without an explicit colour: it carries its own.
    if (!color.isValid()) {
        for (const QString& themeName : themeNames(name)) {
            if (QIcon::hasThemeIcon(themeName))
                return QIcon::fromTheme(themeName);
        }
    }
    return drawn(name, color);
}

QStringList themeNames(const QString& name)
{
    const auto it = table().find(name);
    return it == table().end() ? QStringList() : it->second.themeNames;
}

} // namespace SymbolIcons
