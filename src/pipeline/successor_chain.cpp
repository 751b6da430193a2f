#include "pipeline/successor_chain.h"

#include "pipeline/delay_filter.h"
#include "pipeline/exploration_filters.h"
#include "pipeline/extrapolation_filter.h"
#include "pipeline/filter_configuration.h"
#include "pipeline/keys.h"
#include "pipeline/priority_filter.h"
#include "pipeline/successor_filter.h"
#include "pipeline/transition_filter.h"

void registerSuccessorChainFilters()
{
    registerBuiltinFilter(FILTER_EXTRAPOLATION, makeExtrapolationFilter);
    registerBuiltinFilter(FILTER_DIFFERENCE_EXTRAPOLATION, makeExtrapolationFilter);
    registerBuiltinFilter(FILTER_LOCAL_EXTRAPOLATION, makeLocalExtrapolationFilter);
    registerBuiltinFilter(FILTER_LU_LOCAL_EXTRAPOLATION, makeLULocalExtrapolationFilter);
    registerBuiltinFilter(FILTER_DELAY, makeDelayFilter);
    registerBuiltinFilter(FILTER_SUCCESSOR, makeSuccessorFilter);
    registerBuiltinFilter(FILTER_SUCCESSOR_LIVENESS, makeSuccessorFilter);
    registerBuiltinFilter(FILTER_TRANSITION, makeTransitionFilter);
    registerBuiltinFilter(FILTER_TRANSITION_LIVENESS, makeTransitionFilter);
    registerBuiltinFilter(FILTER_COPY, makeLazyCopyFilter);
    registerBuiltinFilter(FILTER_PRIORITY, makePriorityFilter);
    registerBuiltinFilter(FILTER_QUERY, makeQueryFilter);
    registerBuiltinFilter(FILTER_EXPANSION, makeExpansionFilter);
    registerBuiltinFilter(FILTER_CANONIZE, makeCanonizeZoneFilter);
}
