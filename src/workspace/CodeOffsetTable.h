#pragma once

// A sorted table of text offsets (where blocks or lines start) that follows edits. An edit moves
// every entry after it by its change of length; the move is kept pending for the entries from a
// boundary on and applied only between one edit and the next, so an edit costs the entries
// between it and the edit before rather than every entry after it.

#include <cstddef>
#include <vector>

class CodeOffsetTable {
public:
    CodeOffsetTable() = default;
    explicit CodeOffsetTable(std::vector<int> values);

    std::size_t size() const { return m_values.size(); }
    bool empty() const { return m_values.empty(); }
    int operator[](std::size_t i) const { return m_values[i] + (i >= m_shiftFrom ? m_shift : 0); }
    // The index of the first entry greater than `value`, as std::upper_bound.
    std::size_t upperBound(int value) const;

    // The entries from `first` on move by `delta`.
    void shift(std::size_t first, int delta);
    // The entries [first, last) give way to `values`, current offsets in order.
    void replace(std::size_t first, std::size_t last, const std::vector<int>& values);

    std::vector<int> toVector() const;

private:
    // Applies the pending move up to `index`, or takes it back down to it.
    void settleAt(std::size_t index);

    std::vector<int> m_values;
    // Entries from m_shiftFrom on are m_shift more than stored.
    std::size_t m_shiftFrom = 0;
    int m_shift = 0;
};
