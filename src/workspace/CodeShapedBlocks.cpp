#include "workspace/CodeShapedBlocks.h"

#include <QImage>
#include <QPainter>
#include <QTextLayout>

CodeShapedBlocks::Member::~Member()
{
    // The block is going: its layout may be gone already, and is not touched.
    if (m_owner)
        m_owner->forget(this);
}

CodeShapedBlocks::~CodeShapedBlocks()
{
    for (Member* member : m_members)
        member->m_owner = nullptr;
}

void CodeShapedBlocks::keep(const QTextBlock& block, Member& member)
{
    QTextLayout* layout = block.layout();
    if (!layout)
        return;
    const int length = block.length();
    if (member.m_owner == this) {
        member.m_paint = m_paint;
        m_characters += length - member.m_length;
        member.m_length = length;
        if (length > maxBlockLength) {
            // Let go at the next trim, shown or not.
            member.m_paint = 0;
            m_overdue = true;
        }
        return;
    }
    if (length > maxBlockLength)
        return;
    member.m_owner = this;
    member.m_layout = layout;
    member.m_index = m_members.size();
    member.m_paint = m_paint;
    member.m_length = length;
    m_members.push_back(&member);
    m_characters += length;
    layout->setCacheEnabled(true);
}

void CodeShapedBlocks::trim()
{
    if (!m_overdue && m_members.size() <= size_t(maxBlocks) && m_characters <= maxCharacters)
        return;
    m_overdue = false;
    // A layout that does not keep its glyphs drops them at the end of a draw: a draw clipped away
    // from every line drops them and keeps the lines.
    QImage scratch(1, 1, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&scratch);
    for (size_t i = 0; i < m_members.size();) {
        if (m_members[i]->m_paint != m_paint)
            release(m_members[i], painter); // the last one moves to i
        else
            ++i;
    }
}

void CodeShapedBlocks::release(Member* member, QPainter& painter)
{
    QTextLayout* layout = member->m_layout;
    forget(member);
    layout->setCacheEnabled(false);
    layout->draw(&painter, QPointF(0, 0), {}, QRectF(0, -1'000'000, 1, 1));
}

void CodeShapedBlocks::forget(Member* member)
{
    const size_t index = member->m_index;
    Member* last = m_members.back();
    m_members[index] = last;
    last->m_index = index;
    m_members.pop_back();
    m_characters -= member->m_length;
    member->m_owner = nullptr;
    member->m_layout = nullptr;
}
