#pragma once
// Runs a test body under every kernel set of the zone library that this processor runs, so that
// the randomized checks cover the portable kernels and each vector version alike.

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "dbm/kernels.h"

namespace dbm_test {

// Calls body once per set the processor runs, the generic set first, with the set's name in every
// failure; stops after the first set that fails. The set in use before is in use again after.
inline void forEachKernelSet(const std::function<void(dbm::kernel_set_t)>& body)
{
    const dbm::kernel_set_t before = dbm::kernelSet();
    for (dbm::kernel_set_t set : {dbm::kernel_set_t::GENERIC, dbm::kernel_set_t::AVX2, dbm::kernel_set_t::AVX512}) {
        if (!dbm::useKernelSet(set)) continue;
        SCOPED_TRACE(std::string("kernel set ") + dbm::kernelSetName(set));
        body(set);
        if (::testing::Test::HasFailure()) break;
    }
    dbm::useKernelSet(before);
}

}  // namespace dbm_test
