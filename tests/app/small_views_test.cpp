// The shared small views, driven as a person would and checked on screen.
#include "app/AppLogo.h"
#include "platform/Dispatch.h"
#include "app/Avatar.h"
#include "app/DisclosureButton.h"
#include "app/DravixInfoCard.h"
#include "app/ElidedLabel.h"
#include "app/GuideRow.h"
#include "app/LinkButton.h"
#include "app/LogBox.h"
#include "app/PasswordField.h"
#include "app/Spinner.h"
#include "app/StatCard.h"
#include "app/StatusPill.h"
#include "app/SymbolIcons.h"
#include "app/Theme.h"

#include <QAccessible>
#include <QDateTime>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

// Distance between two colours, channel by channel.
int colourDistance(const QColor& a, const QColor& b)
{
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
}

// The colour of `overlay` at its opacity drawn on `base`.
QColor composite(const QColor& overlay, const QColor& base)
{
    const qreal a = overlay.alphaF();
    return QColor::fromRgbF(overlay.redF() * a + base.redF() * (1 - a), overlay.greenF() * a + base.greenF() * (1 - a),
                            overlay.blueF() * a + base.blueF() * (1 - a));
}

QImage render(QWidget& widget, const QColor& background = Qt::white)
{
    widget.ensurePolished();
    widget.resize(widget.sizeHint().expandedTo(widget.minimumSize()));
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(background);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// Whether some pixel of the image is within `tolerance` of `colour`.
bool containsColour(const QImage& image, const QColor& colour, int tolerance = 24)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (colourDistance(image.pixelColor(x, y), colour) <= tolerance)
                return true;
    return false;
}

UserProfile user(const QString& name, const QString& initials)
{
    UserProfile profile;
    profile.name = name;
    profile.email = QStringLiteral("someone@example.com");
    profile.avatarInitials = initials;
    return profile;
}

} // namespace

TEST(Avatar, PlaceholderForNobodyAndStoredInitialsForAUser)
{
    Avatar nobody(std::nullopt, 42);
    EXPECT_EQ(nobody.initials(), QStringLiteral("G"));
    EXPECT_EQ(nobody.textColor(), Theme::secondary());
    EXPECT_EQ(nobody.fillColor(), Theme::withOpacity(Theme::secondary(), 0.18));
    EXPECT_DOUBLE_EQ(nobody.fontSize(), 42 * 0.36);
    EXPECT_NEAR(nobody.fontSize(), 15.12, 1e-9);
    EXPECT_EQ(nobody.size(), QSize(42, 42));

    // Initials are shown as stored, not derived again.
    for (const QString& initials : {QStringLiteral("LT"), QStringLiteral("u"), QStringLiteral("ÉÖ")}) {
        Avatar someone(user(QStringLiteral("Linh Tran"), initials), 64);
        EXPECT_EQ(someone.initials(), initials);
        EXPECT_EQ(someone.textColor(), Theme::accent());
        EXPECT_EQ(someone.fillColor(), Theme::withOpacity(Theme::accent(), 0.18));
        EXPECT_EQ(someone.size(), QSize(64, 64));
    }

    // On screen: a pale accent circle with accent text; a pale secondary one for nobody.
    Avatar someone(user(QStringLiteral("Linh Tran"), QStringLiteral("LT")), 42);
    const QImage signedIn = render(someone);
    EXPECT_LT(colourDistance(signedIn.pixelColor(21, 4), composite(someone.fillColor(), Qt::white)), 12);
    EXPECT_TRUE(containsColour(signedIn, Theme::accent(), 40));
    const QImage guest = render(nobody);
    EXPECT_LT(colourDistance(guest.pixelColor(21, 4), composite(nobody.fillColor(), Qt::white)), 12);
    EXPECT_FALSE(containsColour(guest, Theme::accent(), 40));
    // Outside the circle the background shows.
    EXPECT_EQ(guest.pixelColor(0, 0), QColor(Qt::white));
}

TEST(Avatar, EmptyInitialsGiveAnEmptyCircle)
{
    Avatar empty(user(QStringLiteral(""), QString()), 42);
    EXPECT_EQ(empty.initials(), QString());
    const QImage image = render(empty);
    const QColor fill = composite(empty.fillColor(), Qt::white);
    // The centre is the plain fill: no text drawn.
    for (int y = 14; y < 28; ++y)
        for (int x = 10; x < 32; ++x)
            ASSERT_LT(colourDistance(image.pixelColor(x, y), fill), 12) << x << "," << y;
}

TEST(PasswordField, ToggleShowsAndMasksTheSameText)
{
    PasswordField field(QStringLiteral("MySQL password"));
    QString bound;
    QObject::connect(&field, &PasswordField::textChanged, [&bound](const QString& text) { bound = text; });
    field.show();
    EXPECT_EQ(field.placeholder(), QStringLiteral("MySQL password"));
    EXPECT_EQ(field.lineEdit()->placeholderText(), QStringLiteral("MySQL password"));
    EXPECT_FALSE(field.isPasswordVisible());
    EXPECT_EQ(field.lineEdit()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(field.toggleSymbol(), QStringLiteral("eye"));
    EXPECT_EQ(field.toggleButton()->toolTip(), QStringLiteral("Show password"));

    QTest::keyClicks(field.lineEdit(), QStringLiteral("s3cr#t <pw>"));
    EXPECT_EQ(bound, QStringLiteral("s3cr#t <pw>"));
    EXPECT_EQ(field.text(), QStringLiteral("s3cr#t <pw>"));

    QTest::mouseClick(field.toggleButton(), Qt::LeftButton);
    EXPECT_TRUE(field.isPasswordVisible());
    EXPECT_EQ(field.lineEdit()->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(field.lineEdit()->displayText(), QStringLiteral("s3cr#t <pw>"));
    EXPECT_EQ(field.toggleSymbol(), QStringLiteral("eye.slash"));
    EXPECT_EQ(field.toggleButton()->toolTip(), QStringLiteral("Hide password"));

    // Typing while shown goes through the same binding.
    QTest::keyClicks(field.lineEdit(), QStringLiteral("!"));
    EXPECT_EQ(bound, QStringLiteral("s3cr#t <pw>!"));

    QTest::mouseClick(field.toggleButton(), Qt::LeftButton);
    EXPECT_FALSE(field.isPasswordVisible());
    EXPECT_EQ(field.lineEdit()->echoMode(), QLineEdit::Password);
    EXPECT_NE(field.lineEdit()->displayText(), QStringLiteral("s3cr#t <pw>!"));
    EXPECT_EQ(field.text(), QStringLiteral("s3cr#t <pw>!"));
    EXPECT_EQ(field.toggleButton()->toolTip(), QStringLiteral("Show password"));
}

TEST(PasswordField, CallerTextAndNewFieldsStartMasked)
{
    PasswordField field(QStringLiteral("Password"));
    field.setText(QStringLiteral("from settings"));
    EXPECT_EQ(field.text(), QStringLiteral("from settings"));
    EXPECT_FALSE(field.isPasswordVisible());
    // The toggle has a drawn (or themed) symbol in either state.
    EXPECT_FALSE(field.toggleButton()->icon().isNull());
    EXPECT_FALSE(SymbolIcons::drawn(QStringLiteral("eye")).isNull());
    EXPECT_FALSE(SymbolIcons::drawn(QStringLiteral("eye.slash")).isNull());
}

TEST(LogBox, TitledAtLeast150HighWhenEmptyAndShowsWholeText)
{
    LogBox empty{QString()};
    empty.resize(500, 10);
    empty.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(empty.title(), QStringLiteral("Logs"));
    EXPECT_GE(empty.height(), 150);
    EXPECT_GE(empty.textView()->height(), 150);
    EXPECT_GE(empty.minimumSizeHint().height(), 150);

    // Every line of a long log is kept, selectable, in a monospaced font.
    QStringList lines;
    for (int i = 0; i < 5000; ++i)
        lines << QStringLiteral("[%1] GET /index.php?x=<b>&y=1 200").arg(i);
    const QString text = lines.join(u'\n');
    LogBox full(text);
    EXPECT_EQ(full.text(), text);
    EXPECT_TRUE(full.textView()->isReadOnly());
    EXPECT_TRUE(full.textView()->textInteractionFlags() & Qt::TextSelectableByMouse);
    const QFontMetrics mono(full.textView()->font());
    EXPECT_EQ(mono.horizontalAdvance(QStringLiteral("iiii")), mono.horizontalAdvance(QStringLiteral("WWWW")));
    full.textView()->selectAll();
    EXPECT_EQ(full.textView()->textCursor().selectedText().size(), text.size());
}

TEST(StatusPill, ColourOnPaleCapsule)
{
    struct Row {
        const char* text;
        QColor colour;
    };
    const Row rows[] = {{"Included", Theme::green()}, {"Database", Theme::blue()}, {"Stopped", Theme::red()}};
    for (const Row& row : rows) {
        StatusPill pill(QString::fromLatin1(row.text), row.colour);
        EXPECT_EQ(pill.text(), QString::fromLatin1(row.text));
        EXPECT_EQ(pill.color(), row.colour);
        EXPECT_EQ(pill.backgroundColor(), Theme::withOpacity(row.colour, 0.14));
        const QImage image = render(pill);
        // The capsule's middle is the pale colour; its corners are outside the capsule.
        EXPECT_LT(colourDistance(image.pixelColor(3, image.height() / 2), composite(pill.backgroundColor(), Qt::white)), 12)
            << row.text;
        EXPECT_EQ(image.pixelColor(0, 0), QColor(Qt::white)) << row.text;
        EXPECT_TRUE(containsColour(image, row.colour, 60)) << row.text;
        EXPECT_GE(image.width(), QFontMetrics(pill.font()).horizontalAdvance(pill.text()) + 18);
    }
}

TEST(StatCard, LongValueStaysOnOneLine)
{
    const QString longName = QStringLiteral("A website with a very long name that cannot fit in the card at all");
    StatCard card(QStringLiteral("Active site"), longName, Theme::green());
    card.resize(240, card.sizeHint().height());
    card.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(card.cardTitle(), QStringLiteral("Active site"));
    EXPECT_EQ(card.color(), Theme::green());
    const QStringList shown = card.valueLabel()->displayedLines();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown.first().endsWith(QChar(0x2026)));
    EXPECT_TRUE(card.valueLabel()->isElided());
    EXPECT_EQ(card.value(), longName);
    EXPECT_TRUE(card.valueLabel()->font().bold());

    card.setValue(QStringLiteral("8.5.1"), Theme::blue());
    EXPECT_EQ(card.valueLabel()->displayedLines(), QStringList{QStringLiteral("8.5.1")});
    EXPECT_EQ(card.valueLabel()->palette().color(QPalette::WindowText), Theme::blue());
}

TEST(AppLogo, BundleImageOrDrawnFallback)
{
    const QString resources = qEnvironmentVariable("KOVANI_RESOURCES_DIR", QStringLiteral(KOVANI_TEST_RESOURCES_DIR));
    AppLogo logo(38, resources);
    EXPECT_TRUE(logo.hasImage());
    EXPECT_NEAR(logo.cornerRadius(), 8.36, 1e-9);
    EXPECT_EQ(logo.size(), QSize(38, 38));

    // Missing and unreadable images give the accent square with a white "P".
    QTemporaryDir missing;
    QTemporaryDir broken;
    QFile junk(broken.path() + QStringLiteral("/AppIcon1024.png"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a png");
    junk.close();
    for (const QString& folder : {missing.path(), broken.path()}) {
        AppLogo fallback(38, folder);
        EXPECT_FALSE(fallback.hasImage());
        const QImage image = render(fallback);
        EXPECT_LT(colourDistance(image.pixelColor(4, 19), Theme::accent()), 12);
        EXPECT_TRUE(containsColour(image, Qt::white, 30));
        // The rounded corner leaves the very corner unpainted.
        EXPECT_EQ(image.pixelColor(0, 0), QColor(Qt::white));
    }
    AppLogo small(18, missing.path());
    EXPECT_EQ(small.size(), QSize(18, 18));
    EXPECT_NEAR(small.cornerRadius(), 3.96, 1e-9);
}

TEST(GuideRowAndInfoCard, TextsAndLinks)
{
    GuideRow row(QStringLiteral("3"), QStringLiteral("Use localhost:<port> or 127.0.0.1:<port>."));
    EXPECT_EQ(row.number(), QStringLiteral("3"));
    EXPECT_EQ(row.textLabel()->textFormat(), Qt::PlainText);
    EXPECT_EQ(row.text(), QStringLiteral("Use localhost:<port> or 127.0.0.1:<port>."));
    EXPECT_EQ(row.badge()->size(), QSize(22, 22));

    QStringList opened;
    DravixInfoCard card([&opened](const QUrl& url) { opened << url.toString(); });
    card.show();
    EXPECT_EQ(card.title(), QStringLiteral("About"));
    ASSERT_EQ(card.links().size(), 3);
    for (LinkButton* link : card.links())
        QTest::mouseClick(link, Qt::LeftButton);
    ASSERT_EQ(opened.size(), 3);
    EXPECT_TRUE(opened[0].startsWith(QStringLiteral("tel:")));
    EXPECT_TRUE(opened[1].startsWith(QStringLiteral("mailto:")));
    EXPECT_TRUE(opened[2].startsWith(QStringLiteral("https://")));
    for (LinkButton* link : card.links())
        EXPECT_TRUE(link->url().isValid());
    bool found = false;
    for (QLabel* label : card.findChildren<QLabel*>())
        found |= label->text() == QStringLiteral("Website design, mobile apps, custom software and digital product development.");
    EXPECT_TRUE(found);
}

TEST(ElidedLabel, CutsToItsLineLimit)
{
    ElidedLabel label(QString(), 2);
    const QFontMetrics metrics(label.font());
    const int width = metrics.horizontalAdvance(QStringLiteral("x")) * 30;
    struct Row {
        QString text;
        int lines;
        bool elided;
    };
    const Row rows[] = {
        {QString(), 0, false},
        {QStringLiteral("Ready"), 1, false},
        {QStringLiteral("word ").repeated(40), 2, true},
        {QStringLiteral("one\ntwo"), 2, false},
        {QStringLiteral("one\ntwo\nthree"), 2, true},
        {QStringLiteral("<b>not bold</b>"), 1, false},
    };
    for (const Row& row : rows) {
        label.setText(row.text);
        const QStringList lines = label.displayedLines(width);
        EXPECT_EQ(lines.size(), row.lines) << row.text.toStdString();
        EXPECT_EQ(label.isElided(width), row.elided) << row.text.toStdString();
        if (row.elided)
            EXPECT_TRUE(lines.last().endsWith(QChar(0x2026)));
        for (const QString& line : lines)
            EXPECT_LE(metrics.horizontalAdvance(line), width);
        EXPECT_EQ(label.text(), row.text);
    }
    label.setText(QStringLiteral("<b>not bold</b>"));
    EXPECT_EQ(label.displayedLines(width), QStringList{QStringLiteral("<b>not bold</b>")});
}

TEST(ElidedLabel, CutTextGivesItsWholeTextAsTooltipAndToScreenReaders)
{
    QWidget window;
    auto* label = new ElidedLabel(QString(), 1, &window);
    label->setGeometry(0, 0, 120, 30);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    const QString whole = QStringLiteral("Could not start <shop>: port 8090 is taken & the log says so");
    label->setText(whole);
    ASSERT_TRUE(label->isElided());
    QTextDocument tip;
    tip.setHtml(label->toolTipText());
    EXPECT_EQ(tip.toPlainText(), whole) << "shown as typed, not as markup";

    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(label);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), QAccessible::StaticText);
    EXPECT_EQ(accessible->text(QAccessible::Name), whole);
    EXPECT_EQ(accessible->text(QAccessible::Value), whole);

    // Text that fits has no tooltip; the screen reader still gets it.
    label->setText(QStringLiteral("Ready"));
    EXPECT_TRUE(label->toolTipText().isEmpty());
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Ready"));

    // Widened until the text fits: the tooltip goes.
    label->setText(whole);
    label->setGeometry(0, 0, 2000, 30);
    EXPECT_FALSE(label->isElided());
    EXPECT_TRUE(label->toolTipText().isEmpty());
}

TEST(Spinner, SmallAndTurningOnlyWhileShown)
{
    QWidget window;
    auto* spinner = new Spinner(16, &window);
    EXPECT_EQ(spinner->size(), QSize(Theme::points(16), Theme::points(16)));
    EXPECT_FALSE(spinner->isSpinning());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_TRUE(spinner->isSpinning());
    const QImage first = render(*spinner);
    const int step = spinner->step();
    ASSERT_TRUE(QTest::qWaitFor([&] { return spinner->step() != step; }, 10000));
    EXPECT_NE(render(*spinner), first) << "each step is drawn differently";
    spinner->hide();
    EXPECT_FALSE(spinner->isSpinning());
}

TEST(DisclosureButton, ExpandedIsAChevronTurnedNotAPressedButton)
{
    DisclosureButton button(QStringLiteral("Website config"));
    EXPECT_TRUE(button.isCheckable());
    EXPECT_FALSE(button.isChecked());
    const QImage collapsed = render(button);
    button.click();
    EXPECT_TRUE(button.isChecked());
    const QImage expanded = render(button);
    ASSERT_EQ(collapsed.size(), expanded.size());
    // Only the chevron changes: the title and the background are drawn the same.
    const int chevronEnd = 4 + std::max(8, button.fontMetrics().height() / 2 + 2) + 1;
    int changed = 0;
    for (int y = 0; y < collapsed.height(); ++y) {
        for (int x = 0; x < collapsed.width(); ++x) {
            if (collapsed.pixel(x, y) != expanded.pixel(x, y)) {
                ++changed;
                EXPECT_LT(x, chevronEnd) << "at " << x << "," << y;
            }
        }
    }
    EXPECT_GT(changed, 0) << "the chevron turns";
    // The background stays the window's (no pressed fill): the far corner is untouched.
    EXPECT_EQ(expanded.pixelColor(expanded.width() - 2, 1), QColor(Qt::white));
    button.click();
    EXPECT_FALSE(button.isChecked());
    EXPECT_EQ(render(button), collapsed);
}

TEST(FocusRing, KeyboardFocusIsVisibleOnButtonsAndDisclosures)
{
    Theme::install();
    QWidget window;
    auto* layout = new QHBoxLayout(&window);
    auto* before = new QPushButton(QStringLiteral("Before"));
    auto* filled = new QPushButton(QStringLiteral("Create Website"));
    Theme::makeProminent(filled);
    auto* plain = new QPushButton(QStringLiteral("Import Website"));
    auto* disclosure = new DisclosureButton(QStringLiteral("Website config"));
    for (QWidget* w : std::initializer_list<QWidget*>{before, filled, plain, disclosure})
        layout->addWidget(w);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    for (QWidget* w : std::initializer_list<QWidget*>{filled, plain, disclosure}) {
        before->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(Dispatch::drainForTesting());
        const QImage unfocused = w->grab().toImage();
        w->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(w->hasFocus());
        ASSERT_TRUE(Dispatch::drainForTesting());
        const QImage focused = w->grab().toImage();
        EXPECT_NE(focused, unfocused) << w->metaObject()->className();
        // The ring is drawn at the edge, in the focus colour.
        bool ring = false;
        const QColor expected = w == filled ? Theme::focusRing(true) : Theme::focusRing();
        for (int y = 0; y < 3 && !ring; ++y)
            for (int x = 0; x < focused.width() && !ring; ++x)
                ring = colourDistance(focused.pixelColor(x, y), expected) < 40;
        EXPECT_TRUE(ring) << w->metaObject()->className();
    }
}

TEST(AppLogo, DrawnSizesComeFromTheirCopiesWhichLookLikeTheArtworkScaled)
{
    const QString resources = qEnvironmentVariable("KOVANI_RESOURCES_DIR", QStringLiteral(KOVANI_TEST_RESOURCES_DIR));
    const QImage artwork = QImageReader(resources + QStringLiteral("/AppIcon1024.png")).read();
    ASSERT_FALSE(artwork.isNull());
    for (const int side : {18, 36, 38, 76}) {
        const QString copyPath = resources + u'/' + AppLogo::scaledCopyName(side);
        ASSERT_TRUE(QFileInfo::exists(copyPath)) << copyPath.toStdString();
        const QImage copy = QImageReader(copyPath).read().convertToFormat(QImage::Format_ARGB32_Premultiplied);
        const QImage scaled = AppLogo::scaledArtwork(artwork, side);
        ASSERT_EQ(copy.size(), scaled.size());
        int worst = 0;
        for (int y = 0; y < side; ++y) {
            for (int x = 0; x < side; ++x) {
                const QRgb a = copy.pixel(x, y), b = scaled.pixel(x, y);
                worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                  std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
            }
        }
        EXPECT_LE(worst, 2) << side;
    }

    // A copy is used only when it is not older than the artwork.
    QTemporaryDir dir;
    ASSERT_TRUE(QFile::copy(resources + QStringLiteral("/AppIcon1024.png"), dir.path() + QStringLiteral("/AppIcon1024.png")));
    QImage red(38, 38, QImage::Format_ARGB32);
    red.fill(Qt::red);
    const QString copyPath = dir.path() + u'/' + AppLogo::scaledCopyName(38);
    ASSERT_TRUE(red.save(copyPath));
    QFile copyFile(copyPath);
    ASSERT_TRUE(copyFile.open(QIODevice::ReadWrite));
    const QDateTime artworkTime = QFileInfo(dir.path() + QStringLiteral("/AppIcon1024.png")).lastModified();
    ASSERT_TRUE(copyFile.setFileTime(artworkTime.addSecs(-60), QFileDevice::FileModificationTime));
    copyFile.close();
    AppLogo stale(38, dir.path());
    EXPECT_GT(colourDistance(render(stale).pixelColor(19, 19), Qt::red), 60) << "an older copy is ignored";

    QTemporaryDir fresh;
    ASSERT_TRUE(QFile::copy(resources + QStringLiteral("/AppIcon1024.png"), fresh.path() + QStringLiteral("/AppIcon1024.png")));
    ASSERT_TRUE(red.save(fresh.path() + u'/' + AppLogo::scaledCopyName(38)));
    AppLogo fromCopy(38, fresh.path());
    EXPECT_LT(colourDistance(render(fromCopy).pixelColor(19, 19), Qt::red), 10) << "the copy is what is drawn";
}
