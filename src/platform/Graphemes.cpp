#include "platform/Graphemes.h"

#include <unicode/brkiter.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <memory>

namespace Graphemes {

namespace {

// ICU's character iterator over the text itself (not copied), or code point steps without it.
class Boundaries {
public:
    explicit Boundaries(const QString& text)
        : m_text(text)
        , m_alias(false, reinterpret_cast<const char16_t*>(text.utf16()), static_cast<int32_t>(text.size()))
    {
        UErrorCode status = U_ZERO_ERROR;
        m_iterator.reset(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status))
            m_iterator.reset();
        else
            m_iterator->setText(m_alias);
    }

    qsizetype size() const { return m_text.size(); }

    // The next boundary after `position`, or -1 at the end.
    qsizetype following(qsizetype position) const
    {
        if (position >= size())
            return -1;
        if (m_iterator) {
            const int32_t next = m_iterator->following(static_cast<int32_t>(position));
            return next == icu::BreakIterator::DONE ? -1 : next;
        }
        return m_alias.moveIndex32(static_cast<int32_t>(position), 1);
    }

    // The boundary strictly before `position`, or -1 at the start.
    qsizetype preceding(qsizetype position) const
    {
        if (position <= 0)
            return -1;
        if (m_iterator) {
            const int32_t previous = m_iterator->preceding(static_cast<int32_t>(position));
            return previous == icu::BreakIterator::DONE ? -1 : previous;
        }
        return m_alias.moveIndex32(static_cast<int32_t>(position), -1);
    }

    // `position` when it is a boundary, else the start of the character it falls in. ICU's
    // preceding(n) is strictly before n, and before the code point that n falls in: the
    // character's start is the boundary before the next one after n.
    qsizetype startOf(qsizetype position) const
    {
        if (position <= 0 || position >= size())
            return position;
        if (m_iterator) {
            if (m_iterator->isBoundary(static_cast<int32_t>(position)))
                return position;
            m_iterator->following(static_cast<int32_t>(position));
            return m_iterator->previous();
        }
        const bool insidePair = m_text.at(position).isLowSurrogate() && m_text.at(position - 1).isHighSurrogate();
        return insidePair ? position - 1 : position;
    }

private:
    const QString& m_text;
    icu::UnicodeString m_alias;
    std::unique_ptr<icu::BreakIterator> m_iterator;
};

} // namespace

QList<qsizetype> boundaries(const QString& text)
{
    QList<qsizetype> result{0};
    const Boundaries characters(text);
    for (qsizetype next = characters.following(0); next > 0; next = characters.following(next))
        result << next;
    return result;
}

QStringList split(const QString& text)
{
    QStringList result;
    const Boundaries characters(text);
    qsizetype start = 0;
    for (qsizetype end = characters.following(0); end > 0; start = end, end = characters.following(end))
        result << text.mid(start, end - start);
    return result;
}

qsizetype count(const QString& text)
{
    qsizetype result = 0;
    const Boundaries characters(text);
    for (qsizetype next = characters.following(0); next > 0; next = characters.following(next))
        ++result;
    return result;
}

QString left(const QString& text, qsizetype n)
{
    const Boundaries characters(text);
    qsizetype end = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const qsizetype next = characters.following(end);
        if (next < 0)
            return text;
        end = next;
    }
    return text.left(end);
}

QString right(const QString& text, qsizetype n)
{
    const Boundaries characters(text);
    qsizetype start = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const qsizetype previous = characters.preceding(start);
        if (previous < 0)
            return text;
        start = previous;
    }
    return text.mid(start);
}

qsizetype boundaryAtOrBefore(const QString& text, qsizetype position)
{
    return Boundaries(text).startOf(std::clamp<qsizetype>(position, 0, text.size()));
}

qsizetype boundaryAtOrAfter(const QString& text, qsizetype position)
{
    const qsizetype clamped = std::clamp<qsizetype>(position, 0, text.size());
    const Boundaries characters(text);
    if (characters.startOf(clamped) == clamped)
        return clamped;
    const qsizetype next = characters.following(clamped);
    return next < 0 ? text.size() : next;
}

} // namespace Graphemes
