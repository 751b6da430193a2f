#pragma once

#include <cstdint>
#include <vector>

#include "language/system.h"

namespace ZOLT {

// What happens together at one place of a scenario chart: a message, a condition and an
// update, each possibly absent. A region refers to the records of its template and never
// owns or copies them; an absent part is a shared empty record (number -1), so the three
// pointers are never null and must never be deleted.
struct lsc_region_t
{
    int32_t number = -1;
    const message_t* message;
    const condition_t* condition;
    const update_t* update;

    lsc_region_t();

    bool hasMessage() const { return message->number != -1; }
    bool hasCondition() const { return condition->number != -1; }
    bool hasUpdate() const { return update->number != -1; }

    // The location of the message when present, else of the condition, else of the
    // update; -1 for a region with nothing.
    int32_t getLocation() const;
};

// A set of regions (those that have happened so far).
struct lsc_cut_t
{
    int32_t number = 0;
    std::vector<lsc_region_t> regions;

    // Every region of the cut is in the prechart (true for an empty cut).
    bool allInPrechart() const;
    // Every region of the cut, and `region`, are in the prechart.
    bool allInPrechartWith(const lsc_region_t& region) const;
    // Removes the first region with the number of `region`; nothing when there is none.
    void eraseRegion(const lsc_region_t& region);
    // Same region numbers, each matched once, in any order.
    bool operator==(const lsc_cut_t& other) const;
    // A region of the cut has the number of `region`.
    bool contains(const lsc_region_t& region) const;
};

// The message's prechart flag when present, else the condition's, else the update's;
// false for a region with nothing.
bool isRegionInPrechart(const lsc_region_t& region);

// The regions that concern `line` (its message has the line as source or target, its
// update is anchored on it, or its condition has it among its anchors), ordered by
// location; regions at the same location keep their order.
std::vector<lsc_region_t> lscRegionsOfInstanceLine(const instance_line_t& line,
                                                   const std::vector<lsc_region_t>& regions);

} // namespace ZOLT
