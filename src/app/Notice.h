#pragma once

#include <QString>

// A message that stays in the window until the user dismisses it or opens the folder it names,
// unlike the status line, which the next outcome replaces.
struct Notice {
    QString text;
    // The folder the message is about; opened by the notice's own button.
    QString folder;

    bool operator==(const Notice& other) const = default;
};
