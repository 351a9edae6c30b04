#include "app/SetupCommand.h"

#include "app/Theme.h"

SetupCommand::SetupCommand(const QString& text, QWidget* parent)
    : QLabel(text, parent)
{
    setObjectName(QStringLiteral("SetupCommand"));
    setTextFormat(Qt::PlainText);
    setFont(Theme::monospacedFont(Theme::TextStyle::callout));
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setCursor(Qt::IBeamCursor);
    setWordWrap(true);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    setStyleSheet(QStringLiteral("#SetupCommand { background: %1; border-radius: 6px; padding: 10px; }")
                      .arg(Theme::textBackground().name()));
}
