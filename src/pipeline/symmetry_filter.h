#pragma once

// Symmetry reduction: states that differ only by a renaming of the elements of a scalar set are
// one state. Every successor is brought into a canonical form in which the elements of each
// scalar set are ordered by what the state holds for them (the locations of their processes, the
// values of their variables, the values of their clocks), so that such states become identical
// and the passed-waiting list stores one of them. A federation is split first, so that each
// zone is canonicalised on its own.

#include <cstdint>
#include <vector>

#include "compiler/scalarset_info.h"
#include "pipeline/pipeline.h"
#include "pipeline/successor.h"
#include "support/object.h"

class FilterConfiguration;
class SymbolicState;
class System;

class SymmetryFilter : public pipeline::AbstractFilter<Successor, Successor>
{
public:
    ~SymmetryFilter() override;

    // The identity permutation of every scalar set.
    void begin() override;
    // PROPERTY_SCALARSET_INFO (ScalarsetInfo*: its records are copied) and PROPERTY_SYSTEM
    // (counted). Other keys are ignored.
    void setProperty(const char* key, void* value) override;
    // One successor per zone of the item's federation, each canonicalised: the zones after the
    // first as new states first, then the item itself with its first zone. True when some
    // downstream put was.
    bool put(Successor* item) override;

    // Puts the state (whose federation holds one zone) into its canonical form.
    void canonicalise(SymbolicState* state);

private:
    enum class Order { First, Second, Undecided };

    Order compareElements(const ScalarsetRecord& record, const ScalarsetElement& a, const ScalarsetElement& b,
                          SymbolicState* state) const;
    void swapElements(const ScalarsetRecord& record, const ScalarsetElement& a, const ScalarsetElement& b,
                      SymbolicState* state) const;
    // Exchanges p[k - 1] and p[k] when element p[k] comes first; true when it did.
    bool compareAndExchange(const ScalarsetRecord& record, std::vector<uint64_t>& p, size_t k,
                            SymbolicState* state) const;

    std::vector<ScalarsetRecord> records;
    // One per record; the identity between two canonicalisations.
    std::vector<std::vector<uint64_t>> permutations;
    base::RefPtr<System> system;
};

// Factory of the registry entry "symmetry-filter" (registered by the model checker when the model
// has scalar sets).
pipeline::Connectable* makeSymmetryFilter(FilterConfiguration* registry);
