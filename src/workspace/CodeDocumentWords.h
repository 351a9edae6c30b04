#pragma once

// The words of the editor's text (runs of letters, digits, marks and "_"), counted by spelling and
// found by their lower case, for the completion list offered when no HTML or Blade list applies.
// Kept up to date by the edits, so that a completion request does not read the whole text.

#include <QHash>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <map>

class CodeDocumentWords {
public:
    static bool isWordCharacter(QChar c) { return c.isLetterOrNumber() || c.isMark() || c == u'_'; }
    // Calls visit(start, end) for each run [start, end) of word characters in `text`, in order.
    template <class Visit>
    static void forEachWord(QStringView text, Visit visit)
    {
        for (qsizetype i = 0; i < text.size();) {
            if (!isWordCharacter(text.at(i))) {
                ++i;
                continue;
            }
            qsizetype j = i + 1;
            while (j < text.size() && isWordCharacter(text.at(j)))
                ++j;
            visit(i, j);
            i = j;
        }
    }

    CodeDocumentWords() = default;
    explicit CodeDocumentWords(QStringView text) { add(text); }

    // Every word of `text`, a stretch that starts and ends at word boundaries.
    void add(QStringView text) { count(text, 1); }
    void remove(QStringView text) { count(text, -1); }

    // The distinct words longer than `partial` whose lower case starts with `partial`; one
    // occurrence of `typed` (the word being typed) does not count. In no particular order.
    QStringList candidates(const QString& partial, const QString& typed) const;

    // Counts of every word, for comparing with a fresh count.
    bool operator==(const CodeDocumentWords& other) const { return m_byLower == other.m_byLower; }

private:
    void count(QStringView text, int step);

    std::map<QString, QHash<QString, int>> m_byLower;
};
