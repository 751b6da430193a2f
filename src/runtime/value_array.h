#pragma once

// The integer (or meta) variable values of a discrete state: `count` entries of the static
// model followed by `extraCount` entries added for the variables of spawned processes, in one
// block that grows in place.

#include <cstdint>

#include "runtime/value_block.h"

class ValueArray : public ValueBlock<int32_t>
{
public:
    using ValueBlock::ValueBlock;

    // The first count + extraCount entries (this array's counts) are equal.
    bool operator==(const ValueArray& other) const;
};
