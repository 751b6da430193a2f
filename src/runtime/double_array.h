#pragma once

// The floating-point variable values of a discrete state: `count` values of the static model,
// followed by `extraCount` values added for the variables of spawned processes. The block is
// resized in place when a process is spawned.

#include <cstdint>

#include "runtime/value_block.h"

class DoubleArray : public ValueBlock<double>
{
public:
    using ValueBlock::ValueBlock;

    // The first count + extraCount values (this array's counts) compare equal as doubles.
    bool operator==(const DoubleArray& other) const;
};
