// The system symbols the views name: each has a drawing in the colour asked for; without a
// colour the icon theme's symbolic icon is tried first.
#include "app/AppSection.h"
#include "app/SymbolIcons.h"

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <gtest/gtest.h>

namespace {

// Whether the drawing put down any pixel close to `color`.
bool paintsIn(const QIcon& icon, const QColor& color)
{
    const QImage image = icon.pixmap(QSize(48, 48)).toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() > 200 && qAbs(pixel.red() - color.red()) < 8 && qAbs(pixel.green() - color.green()) < 8
                && qAbs(pixel.blue() - color.blue()) < 8)
                return true;
        }
    }
    return false;
}

} // namespace

TEST(SymbolIcons, EverySymbolOfTheWindowIsDrawnInTheColourAskedFor)
{
    QStringList names{QStringLiteral("eye"), QStringLiteral("eye.slash"), QStringLiteral("trash"), QStringLiteral("doc.text"),
                      QStringLiteral("folder.fill"), QStringLiteral("photo"), QStringLiteral("globe"),
                      QStringLiteral("shippingbox"), QStringLiteral("exclamationmark.triangle.fill")};
    for (const AppSection section : AppSections::allCases()) {
        if (!AppSections::iconName(section).isEmpty())
            names << AppSections::iconName(section);
    }
    const QColor color(200, 30, 40);
    for (const QString& name : names) {
        EXPECT_TRUE(paintsIn(SymbolIcons::drawn(name, color), color)) << name.toStdString();
        // With a colour the drawing is used even where the theme has an icon.
        EXPECT_TRUE(paintsIn(SymbolIcons::icon(name, color), color)) << name.toStdString();
        EXPECT_FALSE(SymbolIcons::icon(name).isNull()) << name.toStdString();
    }
}

TEST(SymbolIcons, ThemeNamesAndUnknownSymbols)
{
    const struct {
        const char* name;
        QStringList themeNames;
    } cases[] = {
        {"folder", {QStringLiteral("folder-symbolic")}},
        {"eye.slash", {QStringLiteral("view-conceal-symbolic"), QStringLiteral("view-hidden-symbolic")}},
        {"trash", {QStringLiteral("user-trash-symbolic"), QStringLiteral("edit-delete-symbolic")}},
        {"curlybraces", {}},
        {"no.such.symbol", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SymbolIcons::themeNames(QString::fromUtf8(c.name)), c.themeNames) << c.name;
    EXPECT_TRUE(SymbolIcons::drawn(QStringLiteral("no.such.symbol")).isNull());
    EXPECT_TRUE(SymbolIcons::icon(QStringLiteral("no.such.symbol")).isNull());
    EXPECT_TRUE(SymbolIcons::icon(QStringLiteral("no.such.symbol"), QColor(Qt::red)).isNull());
}
