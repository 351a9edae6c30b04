#include "workspace/CodeOffsetTable.h"

#include <algorithm>

CodeOffsetTable::CodeOffsetTable(std::vector<int> values)
    : m_values(std::move(values))
{
}

std::size_t CodeOffsetTable::upperBound(int value) const
{
    std::size_t low = 0;
    std::size_t high = m_values.size();
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if ((*this)[middle] <= value)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

void CodeOffsetTable::settleAt(std::size_t index)
{
    index = std::min(index, m_values.size());
    if (m_shift == 0) {
        m_shiftFrom = index;
        return;
    }
    if (index > m_shiftFrom) {
        for (std::size_t i = m_shiftFrom; i < index; ++i)
            m_values[i] += m_shift;
    } else {
        for (std::size_t i = index; i < m_shiftFrom && i < m_values.size(); ++i)
            m_values[i] -= m_shift;
    }
    m_shiftFrom = index;
}

void CodeOffsetTable::shift(std::size_t first, int delta)
{
    if (delta == 0)
        return;
    settleAt(first);
    m_shift += delta;
}

void CodeOffsetTable::replace(std::size_t first, std::size_t last, const std::vector<int>& values)
{
    first = std::min(first, m_values.size());
    last = std::clamp(last, first, m_values.size());
    settleAt(first);
    // From the boundary on, entries are stored without the pending move.
    const auto at = m_values.erase(m_values.begin() + std::ptrdiff_t(first), m_values.begin() + std::ptrdiff_t(last));
    const auto inserted = m_values.insert(at, values.begin(), values.end());
    for (auto it = inserted; it != inserted + std::ptrdiff_t(values.size()); ++it)
        *it -= m_shift;
}

std::vector<int> CodeOffsetTable::toVector() const
{
    std::vector<int> out(m_values.size());
    for (std::size_t i = 0; i < m_values.size(); ++i)
        out[i] = (*this)[i];
    return out;
}
