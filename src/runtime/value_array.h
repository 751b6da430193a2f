#pragma once

// The integer (or meta) variable values of a discrete state: `count` entries of the static
// model followed by `extraCount` entries added for the variables of spawned processes, in one
// block that grows in place.

#include <cstdint>

class ValueArray
{
public:
    // A block of count + extra entries, all 0. Throws std::bad_alloc when it cannot be had.
    ValueArray(int32_t count, int32_t extra);
    ValueArray(const ValueArray& other);
    ValueArray& operator=(const ValueArray&) = delete;
    ~ValueArray();

    // Adds n entries (0) after the existing ones; false when the block cannot be enlarged (the
    // array is then unchanged). n = 0 does nothing and succeeds.
    bool grow(int32_t n);
    // Grows to the other's extra size when that is larger, then copies count + the other's
    // extraCount entries. Allocates nothing when the sizes already agree.
    void assign(const ValueArray& other);
    // The first count + extraCount entries (this array's counts) are equal.
    bool operator==(const ValueArray& other) const;

    int32_t size() const { return count + extraCount; }

    int32_t count;
    int32_t extraCount;
    int32_t* values;
};
