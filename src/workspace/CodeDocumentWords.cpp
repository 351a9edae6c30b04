#include "workspace/CodeDocumentWords.h"

void CodeDocumentWords::count(QStringView text, int step)
{
    forEachWord(text, [&](qsizetype start, qsizetype end) {
        const QString word = text.mid(start, end - start).toString();
        const auto group = m_byLower.try_emplace(word.toLower()).first;
        int& n = group->second[word];
        n += step;
        if (n <= 0) {
            group->second.remove(word);
            if (group->second.isEmpty())
                m_byLower.erase(group);
        }
    });
}

QStringList CodeDocumentWords::candidates(const QString& partial, const QString& typed) const
{
    QStringList words;
    for (auto group = m_byLower.lower_bound(partial); group != m_byLower.end() && group->first.startsWith(partial);
         ++group) {
        for (auto it = group->second.constBegin(); it != group->second.constEnd(); ++it) {
            const int occurrences = it.value() - (it.key() == typed ? 1 : 0);
            if (occurrences > 0 && it.key().size() > partial.size())
                words << it.key();
        }
    }
    return words;
}
