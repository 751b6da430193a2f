#pragma once

// The check of p --> q (whenever p holds, q holds later on every run): an outer reachability
// search visits every reachable state in which p holds, and from each of them an inner liveness
// search looks for a run that stays for ever where q does not hold. A run found refutes the
// property and is reported downstream as the inner search's pair of trace indices.
//
// The job's compiled expression 0 is p and expression 1 is not q.

#include "pipeline/pipeline.h"
#include "pipeline/successor.h"
#include "statespace/liveness_region.h"

class FilterConfiguration;
class LivenessChecker;

class LeadsToChecker : public pipeline::CompoundFilter<Successor, TracePair>
{
public:
    // The outer search is not owned; the inner liveness search is made from the registry.
    LeadsToChecker(pipeline::Filter<Successor, Successor>* outer, FilterConfiguration* registry);

    // PROPERTY_JOB first gives the outer search expression 0 (and no supremum records) and the
    // inner one expression 1. Every key, that one included, then reaches the outer search and the
    // inner one, in this order; so PROPERTY_EXPRESSION set directly reaches both alike.
    void setProperty(const char* key, void* value) override;
    // Connects outer -> inner -> this checker's downstream sink, then begins both.
    void begin() override;
    // Runs the outer search from the item; it starts an inner search from every state where p
    // holds. The outer search's answer.
    bool put(Successor* item) override;
    void end() override;

private:
    pipeline::Filter<Successor, Successor>* outer;
    LivenessChecker* inner;
};

LeadsToChecker* makeLeadsToChecker(pipeline::Filter<Successor, Successor>* outer, FilterConfiguration* registry);
