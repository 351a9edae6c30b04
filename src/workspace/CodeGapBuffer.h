#pragma once

// A QString or QByteArray kept with a gap at the last edit. An edit moves only what lies between
// it and the edit before, where a plain string moves everything after it; typing, undo and redo
// then cost what they change, not the length of the whole. A read that needs a stretch in one
// piece moves the gap out of it, and whole() closes the gap. Main thread only, like its owner.

#include <QByteArrayView>
#include <QStringView>
#include <QtGlobal>
#include <algorithm>
#include <cstring>
#include <type_traits>
#include <utility>

template <class String>
class CodeGapBuffer {
public:
    using Char = std::remove_cv_t<std::remove_pointer_t<decltype(std::declval<const String&>().constData())>>;
    using View = std::conditional_t<std::is_same_v<Char, QChar>, QStringView, QByteArrayView>;

    CodeGapBuffer() = default;
    explicit CodeGapBuffer(String contents)
        : m_buffer(std::move(contents))
        , m_gapStart(m_buffer.size())
    {
    }

    // A copy starts without a gap: the two never write into one shared buffer.
    CodeGapBuffer(const CodeGapBuffer& other)
        : m_buffer(other.whole())
        , m_gapStart(m_buffer.size())
    {
    }
    CodeGapBuffer& operator=(const CodeGapBuffer& other)
    {
        if (this != &other) {
            m_buffer = other.whole();
            m_gapStart = m_buffer.size();
            m_gapLength = 0;
        }
        return *this;
    }
    CodeGapBuffer(CodeGapBuffer&& other) noexcept
        : m_buffer(std::exchange(other.m_buffer, String()))
        , m_gapStart(std::exchange(other.m_gapStart, 0))
        , m_gapLength(std::exchange(other.m_gapLength, 0))
    {
    }
    CodeGapBuffer& operator=(CodeGapBuffer&& other) noexcept
    {
        m_buffer = std::exchange(other.m_buffer, String());
        m_gapStart = std::exchange(other.m_gapStart, 0);
        m_gapLength = std::exchange(other.m_gapLength, 0);
        return *this;
    }

    qsizetype size() const { return m_buffer.size() - m_gapLength; }
    bool isEmpty() const { return size() == 0; }
    Char at(qsizetype i) const { return m_buffer.constData()[i < m_gapStart ? i : i + m_gapLength]; }

    // The stretch [position, position + length) in one piece, valid until the next call.
    const Char* constData(qsizetype position, qsizetype length) const
    {
        if (m_gapLength > 0 && position < m_gapStart && position + length > m_gapStart) {
            // Out of the stretch by the shorter way.
            if (m_gapStart - position <= position + length - m_gapStart)
                moveGap(position);
            else
                moveGap(position + length);
        }
        return m_buffer.constData() + (position < m_gapStart ? position : position + m_gapLength);
    }
    Char* data(qsizetype position, qsizetype length)
    {
        detach(0);
        constData(position, length);
        return m_buffer.data() + (position < m_gapStart ? position : position + m_gapLength);
    }
    // The contents before and after `position`, each in one piece, valid until the next call.
    std::pair<View, View> around(qsizetype position) const
    {
        moveGap(position);
        const Char* base = m_buffer.constData();
        return {View(base, position), View(base + position + m_gapLength, size() - position)};
    }
    String mid(qsizetype position, qsizetype length) const { return String(constData(position, length), length); }

    // The whole contents in one piece: the gap closes, the buffer keeps its room.
    const String& whole() const
    {
        if (m_gapLength > 0) {
            ++m_gatherings;
            moveGap(size());
            m_buffer.resize(size());
            m_gapLength = 0;
            m_gapStart = m_buffer.size();
        }
        return m_buffer;
    }

    // [position, position + removed) becomes `with`.
    void replace(qsizetype position, qsizetype removed, const Char* with, qsizetype length)
    {
        position = std::clamp<qsizetype>(position, 0, size());
        removed = std::clamp<qsizetype>(removed, 0, size() - position);
        length = std::max<qsizetype>(length, 0);
        detach(length);
        moveGap(position);
        m_gapLength += removed;
        if (m_gapLength < length)
            widenGap(length);
        if (length > 0)
            std::memcpy(m_buffer.data() + m_gapStart, with, size_t(length) * sizeof(Char));
        m_gapStart += length;
        m_gapLength -= length;
    }

    void replace(qsizetype position, qsizetype removed, View with)
    {
        replace(position, removed, reinterpret_cast<const Char*>(with.data()), with.size());
    }

    // How often whole() found a gap to close.
    quint64 gatherings() const { return m_gatherings; }

    // Whether the buffer is shared with another holder (an edit would copy it first).
    bool isShared() const { return !m_buffer.isDetached(); }
    // Room left before the next edit must allocate.
    qsizetype room() const { return m_buffer.capacity() - size(); }

private:
    // The gap starts at `position` (a gap of no length stands anywhere).
    void moveGap(qsizetype position) const
    {
        if (m_gapLength == 0) {
            m_gapStart = position;
            return;
        }
        Char* base = const_cast<Char*>(m_buffer.constData());
        if (position < m_gapStart)
            std::memmove(base + position + m_gapLength, base + position, size_t(m_gapStart - position) * sizeof(Char));
        else if (position > m_gapStart)
            std::memmove(base + m_gapStart, base + m_gapStart + m_gapLength, size_t(position - m_gapStart) * sizeof(Char));
        m_gapStart = position;
    }

    // Room for `needed` characters in the gap; the part after it moves once, to the end.
    void widenGap(qsizetype needed)
    {
        const qsizetype total = m_buffer.size();
        const qsizetype extra = std::max<qsizetype>({needed - m_gapLength, kMinimumGap, size() / 64});
        const qsizetype tail = total - m_gapStart - m_gapLength;
        m_buffer.resize(total + extra);
        Char* base = m_buffer.data();
        std::memmove(base + m_gapStart + m_gapLength + extra, base + m_gapStart + m_gapLength, size_t(tail) * sizeof(Char));
        m_gapLength += extra;
    }

    // A buffer of its own, with room for `growth` more, before it is written to.
    void detach(qsizetype growth)
    {
        if (m_buffer.isDetached())
            return;
        // Shared only as whole() or the constructor left it: no gap.
        String own;
        own.reserve(m_buffer.size() + std::max<qsizetype>({growth, kMinimumGap, m_buffer.size() / 64}));
        own.append(m_buffer);
        m_buffer = std::move(own);
        m_gapStart = std::min(m_gapStart, m_buffer.size());
    }

    static constexpr qsizetype kMinimumGap = 1024;

    // The contents with the gap [m_gapStart, m_gapStart + m_gapLength) of unused characters.
    mutable String m_buffer;
    mutable qsizetype m_gapStart = 0;
    mutable qsizetype m_gapLength = 0;
    mutable quint64 m_gatherings = 0;
};
