// A byte array with a fixed capacity: the frame collector never holds more than
// a frame, so it needs no heap.
#pragma once

#include <array>
#include <cassert>
#include <cstddef>

#include "platform/posix/WinTypes.h"

template <std::size_t Capacity>
class FixedByteArray {
public:
    std::size_t GetSize() const { return m_nSize; }
    bool IsEmpty() const { return m_nSize == 0; }
    void RemoveAll() { m_nSize = 0; }
    // Returns false (and keeps nothing) when full.
    bool Add(BYTE b)
    {
        if (m_nSize >= Capacity)
            return false;
        m_data[m_nSize++] = b;
        return true;
    }
    BYTE operator[](std::size_t i) const
    {
        assert(i < m_nSize);
        return m_data[i];
    }
    const BYTE* GetData() const { return m_data.data(); }

private:
    std::array<BYTE, Capacity> m_data{};
    std::size_t m_nSize = 0;
};
