#pragma once

#include <QString>

#include <utility>

// A text for the status line whose last `excerptLength` code units may be an excerpt of the end
// of a log (AppModel::shortOutput). The status line's cap keeps that end: it drops characters
// from the excerpt's start instead of the text's end.
struct StatusText {
    QString text;
    qsizetype excerptLength = 0;

    StatusText() = default;
    // A text without an excerpt.
    StatusText(QString plain) : text(std::move(plain)) {}

    // `lead` followed by `excerpt`, the end of a log.
    static StatusText withExcerpt(const QString& lead, const QString& excerpt)
    {
        StatusText result(lead + excerpt);
        result.excerptLength = excerpt.size();
        return result;
    }

    // `lead` put before this text; the excerpt stays its end.
    StatusText after(const QString& lead) const
    {
        StatusText result(lead + text);
        result.excerptLength = excerptLength;
        return result;
    }

    bool operator==(const StatusText& other) const = default;
};
