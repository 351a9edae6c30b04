#pragma once

#include <QString>

// Exit status (-1 when the command was not launched or its log could not be created) and the
// captured output text of an external command.
struct CommandResult {
    qint32 status = -1;
    QString output;
};
