#pragma once

#include <QLabel>

// One terminal command shown verbatim in a monospaced, selectable box (no copy button; the user
// selects the text).
class SetupCommand : public QLabel {
    Q_OBJECT

public:
    explicit SetupCommand(const QString& text, QWidget* parent = nullptr);
};
