// Saves a screenshot of the editor under $KOVANI_SCREENSHOT_DIR: a highlighted Blade template with
// the line-number gutter and an open completion list.
#include "EditorTestKit.h"
#include "workspace/CodeLineNumberRulerView.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QDir>
#include <QPainter>

using namespace EditorTestKit;

TEST(CodeEditorScreenshot, BladeTemplateWithGutterAndCompletionList)
{
    auto editor = shownEditor(820, 560);
    const QString blade = QStringLiteral(
        "{{-- resources/views/users/show.blade.php --}}\n"
        "@extends('layouts.app')\n"
        "\n"
        "@section('content')\n"
        "<div class=\"card\" id=\"user-{{ $user->id }}\">\n"
        "    <h1 title=\"Profile\">{{ $user->name }}</h1>\n"
        "    <!-- shown to admins only -->\n"
        "    @if ($user->isAdmin() && $count > 3)\n"
        "        <a href=\"/admin\" data-role=\"link\">Admin</a>\n"
        "    @endif\n"
        "    <p style=\"color: #fff\">Posts: 128, active: true</p>\n"
        "    <?php echo $footer; // legacy ?>\n"
        "    @fore\n"
        "</div>\n"
        "@endsection\n");
    editor->setContent(blade, QStringLiteral("show.blade.php"), QStringLiteral("/site/resources/views/users/show.blade.php"));
    settle(*editor);
    CodeEditorTextView* view = editor->textView();
    setCaret(*editor, int(blade.indexOf(QStringLiteral("@fore")) + 5));
    QTest::keyClick(view, Qt::Key_Space, Qt::ControlModifier);
    ASSERT_TRUE(view->isCompletionListVisible());
    QTest::qWait(50);

    QImage image = editor->grab().toImage();
    QAbstractItemView* popup = view->completer()->popup();
    {
        QPainter painter(&image);
        painter.drawPixmap(editor->mapFromGlobal(popup->mapToGlobal(QPoint(0, 0))), popup->grab());
    }
    QString dir = qEnvironmentVariable("KOVANI_SCREENSHOT_DIR");
    if (dir.isEmpty())
        dir = QDir::tempPath() + QStringLiteral("/kovani-screenshots");
    QDir().mkpath(dir);
    const QString path = dir + QStringLiteral("/code-editor-blade.png");
    ASSERT_TRUE(image.save(path)) << path.toStdString();
}
