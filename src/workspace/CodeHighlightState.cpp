#include "workspace/CodeHighlightState.h"

#include "workspace/CodeSyntaxHighlighter.h"

#include <QRegularExpression>
#include <algorithm>
#include <limits>

namespace {

// A stretch without a match longer than this gets a checkpoint.
constexpr qsizetype kCheckpointStep = 4096;
// How far past a match (or a checkpoint) its search is first assumed to look.
constexpr qsizetype kGuard = 16;
// A search that starts this far past the edit looks at none of it: its look-behinds are shorter.
constexpr qsizetype kSyncMargin = 16;

// The text is checked once (and each edit where it was made), not by every search: the matcher
// would otherwise check all of it from the search's start on, each time.
constexpr auto kChecked = QRegularExpression::DontCheckSubjectStringMatchOption;

// Whether [from, to) of `text` is valid UTF-16, the neighbours of its ends included.
bool isValidUtf16(QStringView text, qsizetype from, qsizetype to)
{
    from = std::max<qsizetype>(from - 1, 0);
    to = std::min(to + 1, text.size());
    for (qsizetype i = from; i < to; ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && (i + 1 >= text.size() || !text.at(i + 1).isLowSurrogate()))
            return false;
        if (c.isLowSurrogate() && (i == 0 || !text.at(i - 1).isHighSurrogate()))
            return false;
    }
    return true;
}

// A position moved off the middle of a surrogate pair.
qsizetype characterBoundary(QStringView text, qsizetype position)
{
    if (position > 0 && position < text.size() && text.at(position).isLowSurrogate()
        && text.at(position - 1).isHighSurrogate())
        return position + 1;
    return position;
}

// Whether a search from `from` on the text cut at `cut` fails everywhere before `at` without
// reaching the cut. A partial match is reported at the first try that reaches the cut.
bool failsBefore(const QRegularExpression& re, QStringView text, qsizetype from, qsizetype at, qsizetype cut)
{
    const QRegularExpressionMatch m =
        re.match(text.left(characterBoundary(text, cut)), from, QRegularExpression::PartialPreferFirstMatch, kChecked);
    if (!m.hasMatch() && !m.hasPartialMatch())
        return true;
    return m.capturedStart() >= at;
}

// An exclusive bound of what the search from `from` that found [start, end) looked at: the first
// cut, growing from just past the match, at which the search finds the same match without reaching
// the cut. Past the end of the text, the end plus one (it looked at the end).
qsizetype reachOf(const QRegularExpression& re, QStringView text, qsizetype from, qsizetype start, qsizetype end)
{
    const qsizetype n = text.size();
    for (qsizetype extra = kGuard;; extra *= 4) {
        const qsizetype cut = characterBoundary(text, std::min(n, end + extra));
        const QRegularExpressionMatch m =
            re.match(text.left(cut), from, QRegularExpression::PartialPreferFirstMatch, kChecked);
        const bool same = m.hasMatch() && m.capturedStart() == start && m.capturedEnd() == end;
        if (cut >= n)
            return same ? n : n + 1;
        if (same)
            return cut;
    }
}

enum class Step { matched, reachedEnd, synced, gaveUp };

// One search of the rule's chain from `pos`, a position where a search starts: its checkpoints and
// its match go to `sink`, and `pos` moves to where the next search starts. At each such position
// `synced` may stop the chain. Gives up past `limit`, or at an empty match (no rule has one; the
// chain would not advance as a whole-text pass does).
template <class Sink, class Synced>
Step searchOnce(const QRegularExpression& re, const QString& text, qsizetype& pos, qsizetype limit, Sink& sink,
                Synced& synced)
{
    const qsizetype n = text.size();
    const QStringView view(text);
    const QRegularExpressionMatch m = re.match(text, pos, QRegularExpression::NormalMatch, kChecked);
    const bool found = m.hasMatch();
    const qsizetype start = found ? m.capturedStart() : n;
    const qsizetype end = found ? m.capturedEnd() : n;
    // Checkpoints in a long stretch without a match. One that cannot be vouched for (a try before it
    // looks past it) is tried further on.
    for (qsizetype step = kCheckpointStep; start - pos > step + kGuard;) {
        const qsizetype at = characterBoundary(view, pos + step);
        if (!failsBefore(re, view, pos, at, at + kGuard)) {
            step *= 2;
            continue;
        }
        sink(at, at, at + kGuard);
        pos = at;
        step = kCheckpointStep;
        if (synced(pos))
            return Step::synced;
        if (pos > limit)
            return Step::gaveUp;
    }
    if (!found)
        return Step::reachedEnd;
    if (end <= start)
        return Step::gaveUp;
    sink(start, end, reachOf(re, view, pos, start, end));
    pos = end;
    return synced(pos) ? Step::synced : Step::matched;
}

} // namespace

CodeHighlightState::CodeHighlightState(const QString& text, const QString& fileName)
    : m_fileName(fileName)
    , m_length(text.size())
{
    const QList<CodeSyntaxHighlighter::Rule> rules = CodeSyntaxHighlighter::rulesFor(fileName);
    m_chains.resize(size_t(rules.size()));
    for (qsizetype i = 0; i < rules.size(); ++i) {
        m_chains[size_t(i)].re = &CodeSyntaxHighlighter::compiled(rules[i]);
        m_chains[size_t(i)].color = static_cast<unsigned char>(rules[i].color);
    }
    // Text that is not valid UTF-16 gets no colours from the whole-text pass; it is left to it.
    if (text.size() >= std::numeric_limits<int>::max() / 2 || !isValidUtf16(text, 0, text.size())) {
        m_usable = false;
        return;
    }
    // One rule after another: this runs while the user may already type, and the first colours
    // have come from a pass that used every core.
    bool usable = true;
    for (Chain& chain : m_chains)
        usable = build(chain, text) && usable;
    m_usable = usable;
}

bool CodeHighlightState::build(Chain& chain, const QString& text)
{
    chain.entries.clear();
    bool gaveUp = false;
    if (chain.re->isValid()) {
        auto sink = [&](qsizetype start, qsizetype end, qsizetype reach) {
            chain.entries.push_back({int(start), int(end), int(reach)});
        };
        auto never = [](qsizetype) { return false; };
        qsizetype pos = 0;
        Step step = Step::matched;
        while (step == Step::matched)
            step = searchOnce(*chain.re, text, pos, text.size(), sink, never);
        gaveUp = step == Step::gaveUp;
    }
    chain.maxReach.resize(chain.entries.size());
    int most = 0;
    for (size_t i = 0; i < chain.entries.size(); ++i)
        chain.maxReach[i] = most = std::max(most, chain.entries[i].reach);
    return !gaveUp;
}

std::optional<CodeHighlightState::Range> CodeHighlightState::update(const QString& text, qsizetype from,
                                                                    qsizetype removed, qsizetype added,
                                                                    qsizetype budget)
{
    m_lastRematched = 0;
    const qsizetype delta = added - removed;
    if (!m_usable || from < 0 || removed < 0 || added < 0 || from + removed > m_length
        || m_length + delta != text.size() || text.size() >= std::numeric_limits<int>::max() / 2
        || !isValidUtf16(text, from, from + added)) {
        m_usable = false;
        return std::nullopt;
    }
    const qsizetype newEditEnd = from + added;
    Range changed {from, newEditEnd};
    qsizetype spent = 0;
    for (Chain& chain : m_chains) {
        if (!chain.re->isValid())
            continue;
        std::vector<Entry>& entries = chain.entries;
        // The first entry whose searches looked at an edited character (or past it): the chain is
        // the same up to the one before it.
        const size_t first =
            size_t(std::upper_bound(chain.maxReach.begin(), chain.maxReach.end(), int(from)) - chain.maxReach.begin());
        const qsizetype restart = first > 0 ? entries[first - 1].end : 0;

        std::vector<Entry> fresh;
        size_t resume = entries.size(); // the first old entry kept after the new ones
        qsizetype syncedAt = text.size();
        auto sink = [&](qsizetype start, qsizetype end, qsizetype reach) {
            fresh.push_back({int(start), int(end), int(reach)});
        };
        // A search starting at `q`, well past the edit, where the old chain also tried (no old match
        // covers the same character): from there on both chains are the same.
        auto synced = [&](qsizetype q) {
            if (q < newEditEnd + kSyncMargin)
                return false;
            const int old = int(q - delta);
            const auto next = std::lower_bound(entries.begin() + qsizetype(first), entries.end(), old,
                                               [](const Entry& e, int position) { return e.start < position; });
            if (next != entries.begin() && std::prev(next)->end > old)
                return false;
            resume = size_t(next - entries.begin());
            syncedAt = q;
            return true;
        };
        // Before the edit, while the new chain's search starts where the old one tried too, an old
        // entry whose searches looked at nothing edited stands as it is; the others are searched again.
        qsizetype pos = restart;
        size_t old = first;
        bool aligned = true;
        Step step = Step::matched;
        for (;;) {
            while (aligned && old < entries.size() && entries[old].reach <= from) {
                fresh.push_back(entries[old]);
                pos = entries[old].end;
                ++old;
            }
            const qsizetype searchedFrom = pos;
            step = searchOnce(*chain.re, text, pos, searchedFrom + (budget - spent), sink, synced);
            spent += pos - searchedFrom;
            if (step != Step::matched)
                break;
            if (spent > budget) {
                step = Step::gaveUp;
                break;
            }
            aligned = pos < from;
            if (aligned) {
                old = size_t(std::lower_bound(entries.begin() + qsizetype(old), entries.end(), int(pos),
                                              [](const Entry& e, int position) { return e.start < position; })
                             - entries.begin());
                aligned = !(old > 0 && entries[old - 1].end > pos);
            }
        }
        if (step == Step::gaveUp) {
            m_usable = false;
            return std::nullopt;
        }
        if (step != Step::synced)
            resume = entries.size();

        // The colours can differ only from where the new entries stop being the old ones.
        qsizetype same = restart;
        for (size_t i = 0; i < fresh.size() && first + i < entries.size(); ++i) {
            const Entry& was = entries[first + i];
            if (was.end > from || fresh[i].start != was.start || fresh[i].end != was.end)
                break;
            same = was.end;
        }

        // Old entries [first, resume) give way to the new ones; those after move with the edit.
        std::vector<Entry> tail(entries.begin() + qsizetype(resume), entries.end());
        entries.resize(first);
        entries.insert(entries.end(), fresh.begin(), fresh.end());
        for (Entry& e : tail) {
            e.start += int(delta);
            e.end += int(delta);
            e.reach += int(delta);
        }
        entries.insert(entries.end(), tail.begin(), tail.end());
        chain.maxReach.resize(entries.size());
        int most = first > 0 ? chain.maxReach[first - 1] : 0;
        for (size_t i = first; i < entries.size(); ++i)
            chain.maxReach[i] = most = std::max(most, entries[i].reach);

        changed.begin = std::min(changed.begin, same);
        changed.end = std::max(changed.end, syncedAt);
    }
    m_length = text.size();
    m_lastRematched = spent;
    changed.end = std::min(changed.end, m_length);
    changed.begin = std::min(changed.begin, changed.end);
    return changed;
}

QByteArray CodeHighlightState::colors(const QString& text, Range range) const
{
    range.begin = std::clamp<qsizetype>(range.begin, 0, text.size());
    range.end = std::clamp<qsizetype>(range.end, range.begin, text.size());
    QByteArray out(range.end - range.begin, char(0));
    char* data = out.data();
    for (const Chain& chain : m_chains) {
        const auto firstEntry = std::upper_bound(chain.entries.begin(), chain.entries.end(), int(range.begin),
                                                 [](int position, const Entry& e) { return position < e.end; });
        for (auto e = firstEntry; e != chain.entries.end() && e->start < range.end; ++e) {
            const qsizetype from = std::max<qsizetype>(e->start, range.begin);
            const qsizetype to = std::min<qsizetype>(e->end, range.end);
            if (to > from)
                std::fill(data + (from - range.begin), data + (to - range.begin), char(chain.color));
        }
    }
    return out;
}
