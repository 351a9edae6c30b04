#pragma once

// The shaped glyphs of the blocks last painted, kept between paints. Qt drops a line's glyphs after
// drawing it and shapes it again at the next paint; a repaint of the code editor (a keystroke, an
// undo, the caret) then costs the shaping of every line in view, and more with many colour runs.
// Blocks painted lately keep theirs, up to a bound in blocks and characters; a block longer than
// maxBlockLength is never kept. A kept block's glyphs go when it leaves the set or with the block.

#include <QTextBlock>
#include <vector>

class QPainter;
class QTextLayout;

class CodeShapedBlocks {
public:
    static constexpr int maxBlockLength = 2000;
    static constexpr int maxBlocks = 400;
    static constexpr qsizetype maxCharacters = 200'000;

    // A block's membership, held in the block's user data so that it goes with the block.
    class Member {
    public:
        Member() = default;
        Member(const Member&) = delete;
        Member& operator=(const Member&) = delete;
        ~Member();
        bool isKept() const { return m_owner != nullptr; }

    private:
        friend class CodeShapedBlocks;
        CodeShapedBlocks* m_owner = nullptr;
        QTextLayout* m_layout = nullptr;
        size_t m_index = 0;
        quint64 m_paint = 0;
        int m_length = 0;
    };

    CodeShapedBlocks() = default;
    CodeShapedBlocks(const CodeShapedBlocks&) = delete;
    CodeShapedBlocks& operator=(const CodeShapedBlocks&) = delete;
    ~CodeShapedBlocks();

    // A paint begins: the blocks kept() until the next beginPaint() are the ones it shows.
    void beginPaint() { ++m_paint; }
    // `block`, shown by this paint, keeps its glyphs (when short enough).
    void keep(const QTextBlock& block, Member& member);
    // After the paint: blocks it did not show are let go while the set is over its bound.
    void trim();

    size_t keptCount() const { return m_members.size(); }
    qsizetype keptCharacters() const { return m_characters; }

private:
    void release(Member* member, QPainter& painter);
    void forget(Member* member);

    std::vector<Member*> m_members;
    qsizetype m_characters = 0;
    quint64 m_paint = 0;
    bool m_overdue = false; // a kept block grew past maxBlockLength
};
