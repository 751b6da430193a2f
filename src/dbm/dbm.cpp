#include "dbm/dbm.h"

namespace dbm {

const char* relationName(uint32_t code)
{
    switch (code) {
    case DIFFERENT: return "Different";
    case SUPERSET: return "Superset";
    case SUBSET: return "Subset";
    case EQUAL: return "Equal";
    default: return "Error";
    }
}

}  // namespace dbm
