#include "app/SymbolIcons.h"

#include "app/DrawnIconEngine.h"
#include "app/Theme.h"

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
    Drawing draw; // empty: the shared theme draws it
};

// ---- Drawings on a 24-unit square, 1.8-unit round-capped outline ------------------------------

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

const std::map<QString, Symbol>& table()
{
    static const std::map<QString, Symbol> symbols = {
        // Drawn by the shared theme.
        {QStringLiteral("folder"), {{QStringLiteral("folder-symbolic")}, {}}},
        {QStringLiteral("trash"), {{QStringLiteral("user-trash-symbolic"), QStringLiteral("edit-delete-symbolic")}, {}}},
        {QStringLiteral("doc.text"), {{QStringLiteral("text-x-generic-symbolic")}, {}}},

        {QStringLiteral("folder.fill"), {{QStringLiteral("folder-open-symbolic")}, [](QPainter& p, const QColor& c) {
             p.setBrush(c);
             p.drawPath(drawnFolderOutline());
         }}},
        {QStringLiteral("doc.badge.plus"), {{QStringLiteral("document-new-symbolic")}, [](QPainter& p, const QColor& c) {
             p.drawPath(documentOutline());
             badge(p, c, plusGlyph);
         }}},
        {QStringLiteral("folder.badge.plus"), {{QStringLiteral("folder-new-symbolic")}, [](QPainter& p, const QColor& c) {
             p.drawPath(drawnFolderOutline());
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
        {QStringLiteral("globe"), {{QStringLiteral("web-browser-symbolic")}, [](QPainter& p, const QColor&) {
             p.drawEllipse(QPointF(12, 12), 9, 9);
             p.drawEllipse(QPointF(12, 12), 4, 9);
             p.drawLine(QPointF(3, 12), QPointF(21, 12));
             p.drawLine(QPointF(12, 3), QPointF(12, 21));
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
    if (!it->second.draw)
        return Theme::drawnSymbol(name, color);
    return QIcon(new DrawnIconEngine(it->second.draw, color, windowText));
}

QIcon icon(const QString& name, const QColor& color)
{
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

QStringList names()
{
    QStringList result;
    for (const auto& [name, symbol] : table())
        result.append(name);
    return result;
}

} // namespace SymbolIcons
