#pragma once

// The highlighter's matches of one text, kept so that an edit re-matches only what it can change,
// with the colours exactly those of CodeSyntaxHighlighter::apply().
//
// Each rule's matches form the chain a whole-text pass finds: every search starts where the previous
// match ended. With each match is kept how far its search looked (the failed tries before it
// included), found by repeating the search on the text cut short with partial matching: a search
// that never reached the cut looked at nothing beyond it. Long stretches without a match get
// checkpoints, positions from which the search may start again. An edit re-runs the searches that
// looked at an edited character and stops where the new chain meets the old one past the edit: from
// there on the text, and so the chain, is the old one moved by the edit. So an edit that opens a
// string or a comment re-matches up to where the pairing comes back, and one in plain text only its
// neighbourhood.

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

class QRegularExpression;

class CodeHighlightState {
public:
    struct Range {
        qsizetype begin = 0;
        qsizetype end = 0;
        bool operator==(const Range&) const = default;
    };

    // Matches every rule of `fileName` over the whole text.
    CodeHighlightState(const QString& text, const QString& fileName);

    const QString& fileName() const { return m_fileName; }
    qsizetype textLength() const { return m_length; }
    // False once an update gave up: the state no longer describes any text.
    bool isUsable() const { return m_usable; }

    // After the text's [from, from + removed) became [from, from + added), `text` being the new
    // text: re-matches what the edit can change and returns the range of `text` whose colours may
    // differ; nothing when that needs more than `budget` characters matched again, or the state does
    // not fit the text (it is then unusable).
    std::optional<Range> update(const QString& text, qsizetype from, qsizetype removed, qsizetype added,
                                qsizetype budget);

    // The colours of `range` of `text` (one CodeEditorTheme::Role per UTF-16 unit), as the whole-text
    // pass paints them.
    QByteArray colors(const QString& text, Range range) const;

    // Characters matched again by the last update, over all rules.
    qsizetype lastRematched() const { return m_lastRematched; }

private:
    // A match, or a checkpoint (start == end). `reach`: the searches from the previous entry's end
    // up to this one looked at nothing at or after it.
    struct Entry {
        int start;
        int end;
        int reach;
    };
    struct Chain {
        const QRegularExpression* re = nullptr;
        unsigned char color = 0;
        std::vector<Entry> entries;
        // The greatest reach of the entries up to each one.
        std::vector<int> maxReach;
    };

    // False when the chain cannot be kept (an empty match).
    static bool build(Chain& chain, const QString& text);

    QString m_fileName;
    qsizetype m_length = 0;
    bool m_usable = true;
    qsizetype m_lastRematched = 0;
    std::vector<Chain> m_chains;
};
