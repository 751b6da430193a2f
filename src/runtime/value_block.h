#pragma once

// The storage shared by the integer and the floating-point value arrays of a discrete state:
// `count` entries of the static model followed by `extraCount` entries added for the variables
// of spawned processes, in one malloc block, so that growing is one realloc, which often
// extends the block in place. Defined for int32_t and double.

#include <cstdint>

template <class T>
class ValueBlock
{
public:
    // A block of count + extraCount entries, all 0. Throws std::bad_alloc when it cannot be had.
    ValueBlock(int32_t count, int32_t extraCount);
    ValueBlock(const ValueBlock& other);
    ValueBlock& operator=(const ValueBlock&) = delete;
    ~ValueBlock();

    // Adds n entries (0) after the existing ones; false when the block cannot be enlarged (the
    // array is then unchanged). n = 0 does nothing and succeeds.
    bool grow(int32_t n);
    // Grows to the other's extra size when that is larger, then copies count + the other's
    // extraCount entries. Allocates nothing when the sizes already agree.
    void assign(const ValueBlock& other);

    int32_t size() const { return count + extraCount; }

    int32_t count;
    int32_t extraCount;
    T* values;
};

extern template class ValueBlock<int32_t>;
extern template class ValueBlock<double>;
