// Delays of a clock valuation relative to a federation: how long until the
// point enters it, and how far it can be moved back inside it.

#include <limits>

#include "dbm/fed.h"

namespace dbm
{
    // ---- delays of a point ---------------------------------------------------------------------

    bool fed_t::delayToEnter(const double* point, uint32_t dim, double* delay, double* exactDelay, bool* strict,
                             const uint32_t* stopped) const
    {
        double best = std::numeric_limits<double>::infinity();
        double bestExact = best;
        bool bestStrict = true;
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            double d = 0, e = 0;
            bool s = false;
            if (p->zone.delayToEnter(point, dim, &d, &e, &s, stopped) && d < best) {
                best = d;
                bestExact = e;
                bestStrict = s;
            }
        }
        *delay = best;
        if (exactDelay != nullptr) {
            *exactDelay = bestExact;
        }
        if (strict != nullptr) {
            *strict = bestStrict;
        }
        return best < std::numeric_limits<double>::infinity();
    }

    bool fed_t::maxPastDelay(const double* point, uint32_t dim, double* delay, double cap) const
    {
        double best = 0;
        for (const FederationNode* p = h->first; p != nullptr; p = p->next) {
            double d = 0;
            if (p->zone.maxPastDelay(point, dim, &d, cap) && d > best) {
                best = d;
            }
        }
        *delay = best;
        return best > 0;
    }
}
