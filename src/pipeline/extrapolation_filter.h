#pragma once

// Extrapolation keeps the symbolic state space finite: before a successor reaches the
// passed-waiting list its zone is widened beyond the constants that the model can still test.
//
// - ExtrapolationFilter: one maximal constant per clock over the whole model and the query, and
//   every difference constraint (zones are split along them first); it also frees the clocks
//   inactive in the state's locations.
// - LocalExtrapolationFilter: per clock the largest constant over the current locations.
// - LULocalExtrapolationFilter: per clock the largest lower-bound and upper-bound constants over
//   the current locations, kept apart.
// The location-based stages get the freeing of inactive clocks from their bounds: a clock that no
// current location compares receives minus infinity, and the operator drops its constraints.
//
// Constants are plain values, not encoded bounds: dbm::MINUS_INF_VALUE means the clock is never
// compared, dbm::INF_VALUE that none of its bounds may go.

#include <cstdint>
#include <vector>

#include "dbm/bound.h"
#include "dbm/fed.h"
#include "pipeline/active_clock_filter.h"
#include "pipeline/pipeline.h"
#include "pipeline/successor.h"
#include "runtime/extrapolation_info.h"
#include "runtime/visitors.h"
#include "support/object.h"

class FilterConfiguration;
class SymbolicState;
class System;

// The widening alone, on a zone, with the bounds that the state's locations choose.
class Extrapolator
{
public:
    virtual ~Extrapolator() = default;
    virtual void extrapolate(SymbolicState* state, dbm::fed_t& zone) = 0;
};

class ExtrapolationFilter : public ActiveClockReductionFilter, public Extrapolator
{
public:
    ~ExtrapolationFilter() override;

    // The active clocks, then the maximal constants and difference constraints of the whole
    // model and the query.
    void begin() override;
    // PROPERTY_ZUBOR_DRIFT (uint8_t*): enlarge unbounded zones by the clock drift. Every other
    // key is the active-clock stage's.
    void setProperty(const char* key, void* value) override;
    // Extrapolates the item's zone, frees the inactive clocks and passes the item on.
    bool put(Successor* item) override;
    void extrapolate(SymbolicState* state, dbm::fed_t& zone) override;

private:
    bool drift = false;
    std::vector<dbm::clock_constraint_t> diagonals;
    std::vector<int32_t> maxBounds;
};

class LocalExtrapolationFilter : public pipeline::AbstractFilter<Successor, Successor>,
                                 public ModelVisitor,
                                 public Extrapolator
{
public:
    ~LocalExtrapolationFilter() override;

    // The bounds of every location; RuntimeException
    // "$Local_extrapolation_is_used_with_diagonal_constraints" when a location or the query
    // compares two clocks.
    void begin() override;
    // PROPERTY_SYSTEM (counted), PROPERTY_EXPRESSION_INFO (copied), PROPERTY_ZUBOR_DRIFT.
    void setProperty(const char* key, void* value) override;
    bool put(Successor* item) override;
    void extrapolate(SymbolicState* state, dbm::fed_t& zone) override;
    void visitLocation(Location* location) override;

private:
    struct Bound
    {
        uint32_t clock;
        int32_t constant;
    };

    bool drift = false;
    base::RefPtr<System> system;
    uint32_t clockCount = 0;
    ExtrapolationInfo queryBounds;
    // Indexed by the location's global index.
    std::vector<std::vector<Bound>> locationBounds;
    std::vector<int32_t> scratch;
};

class LULocalExtrapolationFilter : public pipeline::AbstractFilter<Successor, Successor>,
                                   public ModelVisitor,
                                   public Extrapolator
{
public:
    ~LULocalExtrapolationFilter() override;

    // As LocalExtrapolationFilter; without lower/upper separation every clock but "#tau" gets the
    // larger of its two constants for both.
    void begin() override;
    // As LocalExtrapolationFilter, and PROPERTY_EXTRAPOLATE_LU (bool*): keep the lower and the
    // upper constants apart (the default).
    void setProperty(const char* key, void* value) override;
    bool put(Successor* item) override;
    void extrapolate(SymbolicState* state, dbm::fed_t& zone) override;
    void visitLocation(Location* location) override;

private:
    struct Bound
    {
        uint32_t clock;
        int32_t lower;
        int32_t upper;
    };

    bool drift = false;
    base::RefPtr<System> system;
    uint32_t clockCount = 0;
    uint64_t processCount = 0;
    ExtrapolationInfo queryBounds;
    std::vector<std::vector<Bound>> locationBounds;
    bool useLowerUpper = true;
    std::vector<int32_t> lowerScratch;
    std::vector<int32_t> upperScratch;
};

// Factories of the registry entries "extrapolation-filter" and "difference-extrapolation-filter"
// (ExtrapolationFilter), "local-extrapolation-filter" and "lu-local-extrapolation-filter".
pipeline::Connectable* makeExtrapolationFilter(FilterConfiguration* registry);
pipeline::Connectable* makeLocalExtrapolationFilter(FilterConfiguration* registry);
pipeline::Connectable* makeLULocalExtrapolationFilter(FilterConfiguration* registry);

// Points "extrapolation-filter" and "goxa-extrapolation-filter" at the stage of an extrapolation
// kind: 1 none, 2 by difference constraints, 3 by location (lower/upper when the "#tau" clock
// exists), 4 lower/upper by location; larger kinds leave the entries. Kind 0 (automatic) must
// have been decided before: Bug "Unreachable".
void selectExtrapolation(FilterConfiguration& registry, int kind);
