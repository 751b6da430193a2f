#pragma once

// The floating-point variable values of a discrete state: `count` values of the static model,
// followed by `extraCount` values added for the variables of spawned processes. The block is
// resized in place when a process is spawned.

#include <cstdint>

class DoubleArray
{
public:
    // A block of count + extraCount doubles, all 0.0.
    DoubleArray(int32_t count, int32_t extraCount);
    DoubleArray(const DoubleArray& other);
    DoubleArray& operator=(const DoubleArray&) = delete;
    ~DoubleArray();

    // Adds n values (0.0) to the extra part, keeping the others; false when the memory cannot
    // be obtained (the array is then unchanged). n = 0 succeeds at once.
    bool grow(int32_t n);
    // Grows to the other's extra size when that is larger, then copies count + the other's
    // extraCount values. Allocates nothing when the sizes already agree.
    void assign(const DoubleArray& other);
    // The first count + extraCount values (this array's counts) compare equal as doubles.
    bool operator==(const DoubleArray& other) const;

    int32_t size() const { return count + extraCount; }

    int32_t count;
    int32_t extraCount;
    double* values;
};
